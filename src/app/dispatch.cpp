#include "app/dispatch.h"

#include <string_view>

#include "audio/sound.h"
#include "net/agc.h"

namespace {
using C = ServerCommand;

// Rows whose modules have not landed yet: the line is accepted and ignored.
void notYetHandled(std::string_view, bool) {}

void onPlay(std::string_view p, bool) { playSound(p, 0); }
void onPlayUrg(std::string_view p, bool) { playSound(p, 1); }
void onPlayOw(std::string_view p, bool) { playSound(p, 2); }
void onMusic(std::string_view p, bool) { playMusic(p); }
void onPreload(std::string_view p, bool) { preloadSounds(p); }
}  // namespace

void registerServerCommands() {
    for (C c : {C::Say, C::SayNh, C::SayI, C::SayUrg, C::Input, C::Menu, C::UItem, C::UMenu,
                C::CloseMenu, C::CloseAllMenus, C::MoveM, C::DllQ, C::Browse, C::CheckFile,
                C::MsgBox, C::NewVersion})
        agc_setHandler(c, notYetHandled);
    agc_setHandler(C::Play, onPlay);
    agc_setHandler(C::PlayUrg, onPlayUrg);
    agc_setHandler(C::PlayOw, onPlayOw);
    agc_setHandler(C::Music, onMusic);
    agc_setHandler(C::Preload, onPreload);
}
