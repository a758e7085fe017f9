// The wiring of the server command table: each line, through the real
// dispatcher (agc_recv) and the real registration (registerServerCommands),
// reaches the handler of its row with the payload and the flags of that row.
//
// The handlers of the other modules are replaced at link time by the
// recording doubles below: this test builds dispatch.cpp next to them and
// links none of the modules that own the real ones.
#include "app/dispatch.h"

#include <gtest/gtest.h>

#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "app/dialogs.h"
#include "app/extensions.h"
#include "audio/sound.h"
#include "files/checkfiles.h"
#include "files/newversion.h"
#include "history/chat.h"
#include "history/history.h"
#include "menu/menus.h"
#include "net/agc.h"

namespace {
// What a double received.  `at` is where its payload lay: the dispatcher
// hands out views into the line, never copies.
struct Call {
    std::string fn, payload, arg;
    const char* at;
};
std::vector<Call> calls;

void record(const char* fn, std::string_view payload, const std::string& arg) {
    calls.push_back({fn, std::string(payload), arg, payload.data()});
}
}  // namespace

// The doubles.  Declared in the modules' headers; defined only here.
void historyAdd(std::string_view s, int flags) {
    record("historyAdd", s, std::to_string(flags));
}
// No run is ever begun here: lines come one at a time (agc_recv).
bool historyRunBegin() {
    return false;
}
void historyRunEnd(bool) {}
void historyShowGathered() {}
// The grid of the menu shown, for positional pans.
std::optional<MenuGrid> curmenuGrid() {
    return MenuGrid{3, 4};
}
void playSound(const SoundSpec& spec, int flags, const MenuGrid* grid) {
    std::string arg = std::to_string(flags);
    if (grid) arg += " grid " + std::to_string(grid->width) + "," + std::to_string(grid->selection);
    record("playSound", spec.text, arg);
}
void playMusic(std::string_view name) {
    record("playMusic", name, "");
}
void preloadSounds(std::string_view fl) {
    record("preloadSounds", fl, "");
}
// The configuration, which the login unit brings in, keeps the volumes in
// the sound module: these stand in for it so that the real one stays out.
SoundVolumes soundVolumes() {
    return {};
}
void setSoundVolumes(const SoundVolumes&) {}
void prepareInputBox(std::string_view s) {
    record("prepareInputBox", s, "");
}
void prepareMessageBox(std::string_view s) {
    record("prepareMessageBox", s, "");
}
void doDllRun(std::string_view s) {
    record("doDllRun", s, "");
}
void checkFiles(std::string_view payload) {
    record("checkFiles", payload, "");
}
void downloadNewVersion(std::string_view s, bool required) {
    record("downloadNewVersion", s, required ? "required" : "optional");
}
void menuOpen(std::string_view s) {
    record("menuOpen", s, "");
}
void menuUpdate(std::string_view s, bool partial) {
    record("menuUpdate", s, partial ? "partial" : "whole");
}
void menuClose(int n) {
    record("menuClose", "", std::to_string(n));
}
void menuMove3(std::string_view s) {
    record("menuMove3", s, "");
}
bool browserOpen(std::string_view s) {
    record("browserOpen", s, "");
    return true;
}

namespace {
using C = ServerCommand;

TEST(DispatchWiring, EveryRowReachesItsHandlerWithItsPayloadAndFlags) {
    registerServerCommands();
    // Flags and counts are written as the protocol states them (history
    // flags 1, 5, 3, 9; sound flags 0, 1, 2), not through the named bits, so
    // a wrong bit in the wiring shows.
    const struct {
        std::string line;
        std::string fn;  // "" when no handler runs
        std::string payload, arg;
    } cases[] = {
        {"say Bonjour", "historyAdd", "Bonjour", "1"},
        {"saynh cache", "historyAdd", "cache", "5"},
        {"sayi coupe", "historyAdd", "coupe", "3"},
        {"sayurg alerte", "historyAdd", "alerte", "9"},
        {"say ", "historyAdd", "", "1"},
        {"play pas 0.5 -1", "playSound", "pas 0.5 -1", "0"},
        {"playurg alarme", "playSound", "alarme", "1"},
        {"playow fond 1 0 2", "playSound", "fond 1 0 2", "2"},
        // A pan beyond -1..1 names a grid column: the menu's grid goes along.
        {"play case 1 5 3", "playSound", "case 1 5 3", "0 grid 3,4"},
        {"playurg case 1 -3", "playSound", "case 1 -3", "1 grid 3,4"},
        {"input 7|Nom|Votre nom ?|Paul", "prepareInputBox", "7|Nom|Votre nom ?|Paul", ""},
        {"menu 4|1|1|0|0|r|a|va|sa|-", "menuOpen", "4|1|1|0|0|r|a|va|sa|-", ""},
        {"uitem 2|b|vb|sb|-", "menuUpdate", " 2|b|vb|sb|-", "partial"},  // the blank is kept
        {"umenu 4|1|0|0|0|r", "menuUpdate", "4|1|0|0|0|r", "whole"},
        {"close menu", "menuClose", "", "1"},
        {"close all menus", "menuClose", "", "1000000"},
        {"movem 4|2", "menuMove3", "4|2", ""},
        {"music theme", "playMusic", "theme", ""},
        {"dllq 3|ext|fn|arg", "doDllRun", "3|ext|fn|arg", ""},
        {"browse http://exemple.org/", "browserOpen", "http://exemple.org/", ""},
        {"checkfile +5 a.ogg b.ogg", "checkFiles", "+5 a.ogg b.ogg", ""},
        {"preload pas alarme", "preloadSounds", "pas alarme", ""},
        {"msgbox 3|Titre|Texte|4", "prepareMessageBox", "3|Titre|Texte|4", ""},
        {"newVersion *setup.exe", "downloadNewVersion", "setup.exe", "optional"},
        {"newVersion  setup.exe", "downloadNewVersion", "setup.exe", "required"},
        {"newVersion-*setup.exe", "downloadNewVersion", "setup.exe", "optional"},  // byte 10 unread
        {"newVersion", "downloadNewVersion", "", "required"},
        {"sayBonjour", "", "", ""},
        {"Play pas", "", "", ""},
        {"inconnu", "", "", ""},
        {"", "", "", ""},
    };
    std::set<C> reached;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.line);
        calls.clear();
        AGCHandle h;                // never connected
        std::string line = c.line;  // writable, as in the receive buffer
        agc_recv(&h, line);
        if (c.fn.empty()) {
            EXPECT_TRUE(calls.empty()) << calls.front().fn;
            continue;
        }
        ASSERT_EQ(calls.size(), 1u);
        EXPECT_EQ(calls[0].fn, c.fn);
        EXPECT_EQ(calls[0].payload, c.payload);
        EXPECT_EQ(calls[0].arg, c.arg);
        // The payload is the tail of the line itself.
        if (!c.payload.empty()) {
            EXPECT_EQ(calls[0].at, line.data() + line.size() - c.payload.size());
        }
        ParsedCommand parsed;
        ASSERT_TRUE(parseCommand(line, &parsed));
        reached.insert(parsed.command);
    }
    // The cases cover every row that has a handler.
    for (const CommandRow& row : kCommandTable) {
        if (row.command == C::Ping || row.command == C::Status || row.command == C::Challenge)
            continue;
        EXPECT_TRUE(reached.count(row.command)) << "no case for \"" << row.prefix << "\"";
    }
}

// The three rows the connection keeps for itself reach no handler of the
// application: "ping" answers on the current connection, "status " and
// "challenge" write the handle the line came on.
TEST(DispatchWiring, ConnectionRowsStayInTheConnection) {
    registerServerCommands();
    calls.clear();
    AGCHandle h;
    agc_recv(&h, "status -7");
    agc_recv(&h, "challenge x|y");
    agc_recv(&h, "ping");  // no connection yet: the answer is dropped
    EXPECT_TRUE(calls.empty());
    EXPECT_EQ(h.status.load(), -7);
    EXPECT_EQ(h.challenge, "x|y");
}
}  // namespace
