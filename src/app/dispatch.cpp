#include "app/dispatch.h"

#include <string_view>

#include "net/agc.h"

namespace {
using C = ServerCommand;

// Rows whose modules have not landed yet: the line is accepted and ignored.
void notYetHandled(std::string_view, bool) {}
}  // namespace

void registerServerCommands() {
    for (C c : {C::Say, C::SayNh, C::SayI, C::SayUrg, C::Play, C::PlayUrg, C::PlayOw, C::Input,
                C::Menu, C::UItem, C::UMenu, C::CloseMenu, C::CloseAllMenus, C::MoveM, C::Music,
                C::DllQ, C::Browse, C::CheckFile, C::Preload, C::MsgBox, C::NewVersion})
        agc_setHandler(c, notYetHandled);
}
