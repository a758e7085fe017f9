// One reset for the whole portable core: every unit's state record back to
// its start-of-run values, in an order where no unit's reset needs a unit
// already torn down.  clientMain calls it first thing, and every test
// fixture that works across units calls it before and after each test.
//
// Where each unit keeps its state, and the unit's own reset:
//   app/keyboard.h       keyboard            keyboardReset()
//   app/extensions.cpp   ExtensionState      extensionsReset()
//   files/download.cpp   FilesState          filesReset()
//   menu/menus.h         menus               menuReset()
//   history/history.cpp  HistoryState        historyReset()
//   history/chat.cpp     ChatState           chatReset()
//   net/conndlg.h        connDlgState        connDlgReset()
//   net/login.h          loginState          loginReset()
//   net/agc.h            agcState            agcReset()
//   net/config.h         configState         resetConfig()
//   identity/diskid.h    identityState       identityReset()
// Left alone, because what they hold is installed by the front-end around
// the run (and a fixture around a test), not made by the run:
//   speech/speech.cpp    SpeechState         speechReset()   the speech back-end
//   audio/sound.h        SoundState          soundReset()    observers, the output
//   audio/mixer.h        MixerState          mixReset()      the output
//   platform/ui.h        the UI seams        setUi()
//
// UI thread, with no connection, receive or connecting thread running
// (before the run, or in a test between runs).
#pragma once

void resetCore();
