#include "app/dispatch.h"

#include <string_view>

#include "app/extensions.h"
#include "files/checkfiles.h"
#include "files/newversion.h"
#include "history/chat.h"
#include "history/history.h"
#include "menu/menus.h"
#include "net/agc.h"

namespace {
using C = ServerCommand;

// Rows whose modules have not landed yet: the line is accepted and ignored.
void notYetHandled(std::string_view, bool) {}

void onSay(std::string_view p, bool) { historyAdd(p, HIST_SPEAK); }
void onSayI(std::string_view p, bool) { historyAdd(p, HIST_SPEAK | HIST_INTERRUPT); }
void onSayNh(std::string_view p, bool) { historyAdd(p, HIST_SPEAK | HIST_NOSTORE); }
void onSayUrg(std::string_view p, bool) { historyAdd(p, HIST_SPEAK | HIST_ALWAYS); }
void onMenu(std::string_view p, bool) { menuOpen(p); }
void onUItem(std::string_view p, bool) { menuUpdate(p, true); }
void onUMenu(std::string_view p, bool) { menuUpdate(p, false); }
void onCloseMenu(std::string_view, bool) { menuClose(1); }
void onCloseAllMenus(std::string_view, bool) { menuClose(1000000); }
void onMoveM(std::string_view p, bool) { menuMove3(p); }
void onBrowse(std::string_view p, bool) { browserOpen(p); }
void onDllQ(std::string_view p, bool) { doDllRun(p); }
void onCheckFile(std::string_view p, bool) { checkFiles(p); }
void onNewVersion(std::string_view p, bool required) { downloadNewVersion(p, required); }
}  // namespace

void registerServerCommands() {
    for (C c : {C::Play, C::PlayUrg, C::PlayOw, C::Input, C::Music, C::Preload, C::MsgBox})
        agc_setHandler(c, notYetHandled);
    agc_setHandler(C::Say, onSay);
    agc_setHandler(C::SayI, onSayI);
    agc_setHandler(C::SayNh, onSayNh);
    agc_setHandler(C::SayUrg, onSayUrg);
    agc_setHandler(C::Menu, onMenu);
    agc_setHandler(C::UItem, onUItem);
    agc_setHandler(C::UMenu, onUMenu);
    agc_setHandler(C::CloseMenu, onCloseMenu);
    agc_setHandler(C::CloseAllMenus, onCloseAllMenus);
    agc_setHandler(C::MoveM, onMoveM);
    agc_setHandler(C::Browse, onBrowse);
    agc_setHandler(C::DllQ, onDllQ);
    agc_setHandler(C::CheckFile, onCheckFile);
    agc_setHandler(C::NewVersion, onNewVersion);
}
