#include "app/dispatch.h"

#include <optional>
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

// Each handler gets its line as the receive thread parsed it and calls the
// one unit that owns the command.  They run on the dispatch thread, or on
// the UI thread inside a run (uiRun).

void onSay(const ParsedCommand& c) {
    historyAdd(c.payload, HIST_SPEAK);
}
void onSayI(const ParsedCommand& c) {
    historyAdd(c.payload, HIST_SPEAK | HIST_INTERRUPT);
}
void onSayNh(const ParsedCommand& c) {
    historyAdd(c.payload, HIST_SPEAK | HIST_NOSTORE);
}
void onSayUrg(const ParsedCommand& c) {
    historyAdd(c.payload, HIST_SPEAK | HIST_ALWAYS);
}
void onMenu(const ParsedCommand& c) {
    menuOpen(c.payload);
}
void onUItem(const ParsedCommand& c) {
    menuUpdate(c.payload, true);
}
void onUMenu(const ParsedCommand& c) {
    menuUpdate(c.payload, false);
}
void onCloseMenu(const ParsedCommand&) {
    menuClose(1);
}
void onCloseAllMenus(const ParsedCommand&) {
    menuClose(1000000);
}
void onMoveM(const ParsedCommand& c) {
    menuMove3(c.payload);
}
void onBrowse(const ParsedCommand& c) {
    browserOpen(c.payload);
}

// The sound description is read here, once; a pan beyond -1..1 is a column of
// the current menu's grid, read now from the menus so that the sound unit
// never calls them.
void play(const ParsedCommand& c, int flags) {
    const SoundSpec spec = parseSoundSpec(c.payload);
    std::optional<MenuGrid> grid;
    if (spec.pan < -1.0 || spec.pan > 1.0) grid = curmenuGrid();
    playSound(spec, flags, grid ? &*grid : nullptr);
}
void onPlay(const ParsedCommand& c) {
    play(c, 0);
}
void onPlayUrg(const ParsedCommand& c) {
    play(c, 1);
}
void onPlayOw(const ParsedCommand& c) {
    play(c, 2);
}

void onMusic(const ParsedCommand& c) {
    playMusic(c.payload);
}
void onPreload(const ParsedCommand& c) {
    preloadSounds(c.payload);
}
void onInput(const ParsedCommand& c) {
    prepareInputBox(c.payload);
}
void onMsgBox(const ParsedCommand& c) {
    prepareMessageBox(c.payload);
}
void onDllQ(const ParsedCommand& c) {
    doDllRun(c.payload);
}
void onCheckFile(const ParsedCommand& c) {
    checkFiles(c.payload);
}
void onNewVersion(const ParsedCommand& c) {
    downloadNewVersion(c.payload, c.required);
}

bool isHistoryLine(C c) {
    return c == C::Say || c == C::SayI || c == C::SayNh || c == C::SayUrg;
}

// The handlers of a run, in order.  Menu and sound lines travel in runs
// with the history lines: where the history gathers the run's view text
// (`gathering`), each first shows what the messages before it gathered (in
// this run, or in the flood of runs before it), as it would be shown if the
// line ended the run.
void runLines(const std::vector<RunLine>& run, bool gathering) {
    bool textWaits = gathering;
    for (const RunLine& l : run) {
        if (isHistoryLine(l.command.command)) {
            textWaits = gathering;
        } else if (textWaits) {
            historyShowGathered();
            textWaits = false;
        }
        l.handler(l.command);
    }
}

// A run of lines whose work is the UI thread's (history, menus, sounds)
// goes there in one call: each line's work runs there anyway, and one
// hand-over per line would cost a thread wake-up per line in a flood; there
// the front-end may take the view text of the run, or of a flood of runs, in
// one append (historyRunBegin).  Without a main window the run stays on the
// dispatch thread and each line does without the UI, as it would alone.
void uiRun(const std::vector<RunLine>& run, bool moreFollows) {
    auto onUiThread = [&run, moreFollows] {
        const bool gathering = historyRunBegin();
        runLines(run, gathering);
        if (gathering) historyRunEnd(moreFollows);
    };
    if (uiThread().isUiThread()) {
        onUiThread();
        return;
    }
    if (!uiCall(onUiThread)) runLines(run, false);
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
    for (C c : {C::Say, C::SayI, C::SayNh, C::SayUrg, C::Menu, C::UItem, C::UMenu, C::CloseMenu,
                C::CloseAllMenus, C::MoveM, C::Play, C::PlayUrg, C::PlayOw})
        agc_setBatched(c, true);
    agc_setRunDispatcher(uiRun);
    // A lost connection: the notice, the reconnection, the quit on -7.
    loginInstall();
}
