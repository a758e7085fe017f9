// The main window's commands, the accelerator table, the selection step of
// the list and the layout of the controls.
#include "app/commands.h"

#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>

#include "app_session.h"
#include "audio/sound.h"
#include "net/config.h"
#include "net/stats.h"
#include "platform/clock.h"

namespace fs = std::filesystem;

namespace {

using Lines = std::vector<std::string>;
using Events = std::vector<std::string>;

TEST(Accelerators, TableAndExactModifiers) {
    struct Case {
        int vk;
        bool shift, ctrl, alt;
        int command;
    };
    const Case cases[] = {
        {116, false, false, false, 1006}, {117, false, false, false, 1005}, {118, false, false, false, 1004},
        {119, false, false, false, 1003}, {116, false, true, false, 1007},  {117, false, true, false, 1008},
        {118, false, true, false, 1010},  {119, false, true, false, 1009},  {123, false, false, false, 1002},
        {115, false, false, false, 1011}, {46, true, true, false, 3001},    {'C', false, false, true, 2020},
        {'H', false, false, true, 2021},  {'L', false, false, true, 2022},  {'M', false, false, true, 2022},
        // Modifiers must match exactly, as Windows accelerators do.
        {116, true, false, false, 0},     {116, false, true, true, 0},      {46, false, true, false, 0},
        {46, true, true, true, 0},        {'C', false, true, true, 0},      {'C', false, false, false, 0},
        {'c', false, false, true, 0},     {114, false, false, false, 0},    {'L', true, false, true, 0},
    };
    for (const Case& c : cases)
        EXPECT_EQ(accelCommand(c.vk, c.shift, c.ctrl, c.alt), c.command)
            << c.vk << (c.shift ? " shift" : "") << (c.ctrl ? " ctrl" : "") << (c.alt ? " alt" : "");
    // The table's order, in which Win32 builds its own accelerator table.
    std::vector<int> order;
    for (const Accelerator& a : kAccelerators) order.push_back(a.command);
    EXPECT_EQ(order, (std::vector<int>{1006, 1005, 1004, 1003, 1007, 1008, 1010, 1009, 1002, 1011, 3001, 2020,
                                       2021, 2022, 2022}));
}

TEST(Layout, ClientArea801By600) {
    MainLayout l = mainLayout(801, 600);
    EXPECT_EQ(l.history, (LayoutRect{10, 10, 390, 540}));
    EXPECT_EQ(l.list, (LayoutRect{410, 10, 390, 540}));
    EXPECT_EQ(l.chatLabel, (LayoutRect{10, 555, 50, 40}));
    EXPECT_EQ(l.chat, (LayoutRect{60, 555, 731, 40}));
}

class Commands : public AppSession {
protected:
    void TearDown() override {
        soundReset();
        setClock(nullptr);
        AppSession::TearDown();
    }
    void run(int id) {
        onUi([id] { runCommand(id); });
    }
};

// Commands 1003-1007 act on the client's real sound state: the volumes and
// the pause switch of the configuration, and the current music's channel.
TEST_F(Commands, AudioCommandsActOnTheSoundState) {
    const fs::path dir = fs::temp_directory_path() / ("kordo-commands-" + std::to_string(::getpid()));
    fs::create_directories(dir);
    const std::string make = "sox -q -n -r 44100 -c 1 " + (dir / "m.ogg").string() + " synth 2 sine 440";
    ASSERT_EQ(std::system(make.c_str()), 0);
    setSoundsFolder(dir.string());
    Lines requests, music;  // written on the UI thread inside run()
    setPlayRequestObserver([&](std::string_view sz, int flags) {
        requests.push_back(std::string(sz) + " " + std::to_string(flags));
    });
    setMusicEventObserver([&](std::string_view event, std::string_view) { music.emplace_back(event); });
    setSoundVolumes({0.5f, 0.5f, false});

    // Effects: a step of 1/50 each way, and the bounds sound says so.
    run(1003);
    EXPECT_NEAR(soundVolumes().effects, 0.52f, 1e-6);
    run(1004);
    run(1004);
    EXPECT_NEAR(soundVolumes().effects, 0.48f, 1e-6);
    EXPECT_EQ(requests, (Lines{"menubounds 0", "menubounds 0", "menubounds 0"}));

    // Without a music the music commands change nothing.
    for (int id : {1005, 1006, 1007}) run(id);
    EXPECT_FLOAT_EQ(soundVolumes().music, 0.5f);
    EXPECT_FALSE(soundVolumes().musicStopped);
    EXPECT_TRUE(music.empty());

    playMusic("m");
    const MixChannel c = currentMusicChannel();
    ASSERT_NE(c, 0u);
    music.clear();
    run(1005);
    EXPECT_NEAR(soundVolumes().music, 0.52f, 1e-6);
    run(1006);
    run(1006);
    EXPECT_NEAR(soundVolumes().music, 0.48f, 1e-6);
    float v = 0;
    ASSERT_TRUE(mixGetAttribute(c, MixAttrib::Vol, &v));
    EXPECT_FLOAT_EQ(v, soundVolumes().music);
    run(1007);
    EXPECT_TRUE(soundVolumes().musicStopped);
    EXPECT_EQ(mixChannelState(c), MixState::Paused);
    run(1007);
    EXPECT_FALSE(soundVolumes().musicStopped);
    EXPECT_EQ(mixChannelState(c), MixState::Playing);
    EXPECT_EQ(music, (Lines{"music-volume", "music-volume", "music-volume", "music-pause", "music-resume"}));
    EXPECT_TRUE(sent().empty());
    fs::remove_all(dir);
}

TEST_F(Commands, StatisticsGoToTheHistoryAndAreSpokenInterrupting) {
    FakeClock clock;
    setClock(&clock);
    agc_setstats(static_cast<int32_t>(clock.now() - 4), 8192, 2048);
    ui.take();
    run(1011);
    std::string expected = statsText(4, 8192, 2048);
    ASSERT_EQ(historyCounts().length, 1);
    EXPECT_EQ(historyAt(0), expected);
    Events ev = ui.take();
    EXPECT_NE(std::find(ev.begin(), ev.end(), "speak 1 " + expected), ev.end());
    EXPECT_EQ(expected.rfind("Statistiques de connexion:\r\nT\xE9l\xE9" "chargement: 2.00 Ko/s (16384bps)", 0), 0u);
}

TEST_F(Commands, FocusCommands) {
    ui.setChat("bonjour");
    run(2020);
    EXPECT_EQ(ui.focusedControl(), UiControl::Chat);
    EXPECT_EQ(ui.take(), (Events{"chat-select 0 7"}));
    run(2021);
    EXPECT_EQ(ui.focusedControl(), UiControl::History);
    run(2022);
    EXPECT_EQ(ui.focusedControl(), UiControl::List);
    EXPECT_TRUE(ui.take().empty());
}

TEST_F(Commands, VoiceSwitchSpeaksOnlyWhenSwitchedOn) {
    run(1008);
    EXPECT_EQ(ui.take(), (Events{"speak 1 Voix SAPI activ\xE9" "e"}));
    run(1008);
    EXPECT_TRUE(ui.take().empty());
    sapiEnable(false);
}

TEST_F(Commands, ForceCloseBeepsThenClosesAndUnknownCommandsDoNothing) {
    run(4000);
    EXPECT_TRUE(ui.beeps().empty());
    EXPECT_TRUE(sent().empty());
    run(3001);
    EXPECT_EQ(ui.beeps(), (std::vector<std::pair<int, int>>{{524, 60}, {392, 60}, {349, 60}, {262, 60}}));
    EXPECT_TRUE(conn->waitClosed());
    // Without a connection the beeps still sound.
    agc_setCurrent(nullptr);
    run(3001);
    EXPECT_EQ(ui.beeps().size(), 8u);
}

// The list's own selection changes.
class Selection : public Commands {
protected:
    void open(int flags, int sel = 0) {
        menuReset();
        menuOpen(menuText(7, 1, 5, sel, flags));
        ui.take();
    }
    void click(int button, int index) {
        onUi([&] {
            if (button != 0) listClicked(static_cast<ListButton>(button));
            ui.listSelect(index);
            selectionStep();
        });
    }
};

TEST_F(Selection, ClicksAndFlagsDecide) {
    struct Case {
        const char* what;
        int flags, button, index;
        Lines lines;
        int selectionAfter;  // -2: the menu was closed
    };
    const Case cases[] = {
        {"left click chooses", 0, 1, 2, {"select 7|2|v2"}, -2},
        {"right click with flag 8 reports the Applications key", 8, 2, 3, {"kem 93|7|3|ok"}, 3},
        {"right click without flag 8 chooses", 0, 2, 4, {"select 7|4|v4"}, -2},
        {"left click with flag 8 chooses", 8, 1, 1, {"select 7|1|v1"}, -2},
        {"flag 4 chooses without a click", 4, 0, 3, {"select 7|3|ok"}, -2},
        {"type-ahead without flag 4 only moves", 2, 0, 4, {}, 4},
        {"a selection beyond the items is kept on the last", 0, 0, 9, {}, 4},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        open(c.flags);
        click(c.button, c.index);
        EXPECT_EQ(sent(), c.lines);
        EXPECT_EQ(selection(), c.selectionAfter);
        EXPECT_EQ(keyboardView().listClicked, 0);
    }
}

TEST_F(Selection, NoItemIsNeverACancellation) {
    // An empty menu leaves nothing under a click, nor a selection for flag 4
    // to choose: the step must not report the menu as cancelled (index -1).
    for (int flags : {0, int{MENU_CHOOSE_ON_CHANGE}}) {
        for (int button : {1, 2}) {
            SCOPED_TRACE(std::to_string(flags) + " " + std::to_string(button));
            menuReset();
            menuOpen(menuText(7, 1, 0, 0, flags));
            click(button, -1);
            EXPECT_TRUE(sent().empty());
            EXPECT_EQ(selection(), -1);  // still open
            EXPECT_EQ(keyboardView().listClicked, 0);
        }
    }
}

TEST_F(Selection, PlaysAndShowsTheItemAndKeepsTheClickWithoutMenu) {
    open(0);
    click(0, 3);
    EXPECT_EQ(ui.take(), (Events{"list-select 3", "sound s3", "list-select 3"}));
    ui.selfVoicing(true);
    click(0, 1);
    EXPECT_EQ(ui.take(), (Events{"list-select 1", "sound s1", "list-select 1", "speak 0 L1"}));
    menuReset();
    click(2, 1);
    EXPECT_EQ(keyboardView().listClicked, 2);
    EXPECT_TRUE(sent().empty());
}

}  // namespace
