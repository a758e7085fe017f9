#include "app/dispatch.h"

#include <functional>
#include <string_view>

#include "app/dialogs.h"
#include "app/extensions.h"
#include "audio/sound.h"
#include "files/checkfiles.h"
#include "files/newversion.h"
#include "history/chat.h"
#include "history/history.h"
#include "menu/menus.h"
#include "net/agc.h"
#include "net/login.h"
#include "platform/ui.h"

namespace {
using C = ServerCommand;

void onSay(std::string_view p, bool) { historyAdd(p, HIST_SPEAK); }
void onSayI(std::string_view p, bool) { historyAdd(p, HIST_SPEAK | HIST_INTERRUPT); }
void onSayNh(std::string_view p, bool) { historyAdd(p, HIST_SPEAK | HIST_NOSTORE); }
void onSayUrg(std::string_view p, bool) { historyAdd(p, HIST_SPEAK | HIST_ALWAYS); }
// Menu and sound lines also travel in runs with the history lines: each
// first shows the view text that the run's messages before it gathered, as
// it would be shown if the line ended the run.
void onMenu(std::string_view p, bool) {
    historyShowGathered();
    menuOpen(p);
}
void onUItem(std::string_view p, bool) {
    historyShowGathered();
    menuUpdate(p, true);
}
void onUMenu(std::string_view p, bool) {
    historyShowGathered();
    menuUpdate(p, false);
}
void onCloseMenu(std::string_view, bool) {
    historyShowGathered();
    menuClose(1);
}
void onCloseAllMenus(std::string_view, bool) {
    historyShowGathered();
    menuClose(1000000);
}
void onMoveM(std::string_view p, bool) {
    historyShowGathered();
    menuMove3(p);
}
void onBrowse(std::string_view p, bool) { browserOpen(p); }
void onPlay(std::string_view p, bool) {
    historyShowGathered();
    playSound(p, 0);
}
void onPlayUrg(std::string_view p, bool) {
    historyShowGathered();
    playSound(p, 1);
}
void onPlayOw(std::string_view p, bool) {
    historyShowGathered();
    playSound(p, 2);
}
void onMusic(std::string_view p, bool) { playMusic(p); }
void onPreload(std::string_view p, bool) { preloadSounds(p); }
void onInput(std::string_view p, bool) { prepareInputBox(p); }
void onMsgBox(std::string_view p, bool) { prepareMessageBox(p); }
void onDllQ(std::string_view p, bool) { doDllRun(p); }
void onCheckFile(std::string_view p, bool) { checkFiles(p); }
void onNewVersion(std::string_view p, bool required) { downloadNewVersion(p, required); }

// A run of lines whose work is the UI thread's (history, menus, sounds)
// goes there in one call: each line's work runs there anyway, and one
// hand-over per line would cost a thread wake-up per line in a flood; there
// the front-end may take the view text of the run, or of a flood of runs, in
// one append (historyAddRun).  Without a main window the run stays on the
// dispatch thread and each line does without the UI, as it would alone.
void uiRun(const std::function<void()>& run, bool moreFollows) {
    if (uiThread().isUiThread()) {
        historyAddRun(run, moreFollows);
        return;
    }
    if (!uiCall([&run, moreFollows] { historyAddRun(run, moreFollows); })) run();
}
}  // namespace

void registerServerCommands() {
    agc_setHandler(C::Input, onInput);
    agc_setHandler(C::MsgBox, onMsgBox);
    agc_setHandler(C::Play, onPlay);
    agc_setHandler(C::PlayUrg, onPlayUrg);
    agc_setHandler(C::PlayOw, onPlayOw);
    agc_setHandler(C::Music, onMusic);
    agc_setHandler(C::Preload, onPreload);
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
    // The lines whose handlers do their work on the UI thread.  The others
    // stay off it by their modules' thread contracts (music and preloading on
    // the dispatch thread; dialogs, extensions, the shell and downloads wait
    // there) and end a run, keeping their place in the order.
    for (C c : {C::Say, C::SayI, C::SayNh, C::SayUrg, C::Menu, C::UItem, C::UMenu, C::CloseMenu, C::CloseAllMenus,
                C::MoveM, C::Play, C::PlayUrg, C::PlayOw})
        agc_setBatched(c, true);
    agc_setRunDispatcher(uiRun);
    // A lost connection: the notice, the reconnection, the quit on -7.
    loginInstall();
}
