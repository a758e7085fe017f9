#include "app/commands.h"

#include <cstdint>
#include <mutex>

#include "audio/sound.h"
#include "history/history.h"
#include "menu/menus.h"
#include "net/agc.h"
#include "net/stats.h"
#include "platform/ui.h"
#include "speech/speech.h"

namespace {
void connectionStatistics() {
    int32_t elapsed = 0, received = 0, sent = 0;
    agc_getstats(&elapsed, &received, &sent);
    historyAdd(statsText(elapsed, received, sent), HIST_SPEAK | HIST_INTERRUPT);
}

void forceClose() {
    // Descending tones, so the player hears the command was taken before the
    // connection goes; each beep returns when it has sounded.
    for (int hz : {524, 392, 349, 262}) uiDialogs().beep(hz, 60);
    if (AGCHandle* h = agc_current()) agc_forceclose(h);
}
}  // namespace

const std::array<Accelerator, 15> kAccelerators = {{
    {VKEY_F5, false, false, false, CMD_MUSIC_SOFTER},
    {VKEY_F6, false, false, false, CMD_MUSIC_LOUDER},
    {VKEY_F7, false, false, false, CMD_SOUND_SOFTER},
    {VKEY_F8, false, false, false, CMD_SOUND_LOUDER},
    {VKEY_F5, false, true, false, CMD_MUSIC_PAUSE},
    {VKEY_F6, false, true, false, CMD_VOICE_SWITCH},
    {VKEY_F7, false, true, false, CMD_VOICE_SLOWER},
    {VKEY_F8, false, true, false, CMD_VOICE_FASTER},
    {VKEY_F12, false, false, false, CMD_SAVE_HISTORY},
    {VKEY_F4, false, false, false, CMD_STATISTICS},
    {VKEY_DELETE, true, true, false, CMD_FORCE_CLOSE},
    {'C', false, false, true, CMD_FOCUS_CHAT},
    {'H', false, false, true, CMD_FOCUS_HISTORY},
    {'L', false, false, true, CMD_FOCUS_LIST},
    {'M', false, false, true, CMD_FOCUS_LIST},
}};

int accelCommand(int vk, bool shift, bool ctrl, bool alt) {
    for (const Accelerator& a : kAccelerators)
        if (a.vk == vk && a.shift == shift && a.ctrl == ctrl && a.alt == alt) return a.command;
    return 0;
}

void runCommand(int id) {
    switch (id) {
        case CMD_SAVE_HISTORY: historySave(); break;
        case CMD_SOUND_LOUDER:
        case CMD_SOUND_SOFTER: setSoundVolume(id == CMD_SOUND_LOUDER ? 1 : -1); break;
        case CMD_MUSIC_LOUDER:
        case CMD_MUSIC_SOFTER: setMusicVolume(id == CMD_MUSIC_LOUDER ? 1 : -1); break;
        case CMD_MUSIC_PAUSE: toggleMusicPause(); break;
        case CMD_VOICE_SWITCH: sapiSwitch(); break;
        case CMD_VOICE_FASTER: sapiSpeedChange(5); break;
        case CMD_VOICE_SLOWER: sapiSpeedChange(-5); break;
        case CMD_STATISTICS: connectionStatistics(); break;
        case CMD_FOCUS_CHAT:
            uiViews().setFocus(UiControl::Chat);
            uiViews().chatSelectRange(0, static_cast<int>(uiViews().chatText().size()));
            break;
        case CMD_FOCUS_HISTORY: uiViews().setFocus(UiControl::History); break;
        case CMD_FOCUS_LIST: uiViews().setFocus(UiControl::List); break;
        case CMD_FORCE_CLOSE: forceClose(); break;
        default: break;
    }
}

MainLayout mainLayout(int W, int H) {
    const int half = W / 2;
    return MainLayout{
        {10, 10, half - 10, H - 60},
        {half + 10, 10, half - 10, H - 60},
        {10, H - 45, 50, 40},
        {60, H - 45, W - 70, 40},
    };
}
