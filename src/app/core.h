// One reset for the whole portable core: every unit's state record back to
// its start-of-run values, in an order where no unit's reset needs a unit
// already torn down.  clientMain calls it first thing, and every test
// fixture that works across units calls it before and after each test.
//
// Where each unit keeps its state, and the unit's own reset:
//   app/keyboard.cpp     KeyboardState       keyboardReset()
//   app/extensions.cpp   ExtensionState      extensionsReset()
//   files/download.cpp   FilesState          filesReset()
//   menu/menus.cpp       MenuStackState      menuReset()
//   history/history.cpp  HistoryState        historyReset()
//   history/chat.cpp     ChatState           chatReset()
//   net/conndlg.cpp      ConnDlgState        connDlgReset()
//   net/login.cpp        LoginState          loginReset()
//   net/agc.cpp          AgcState            agcReset()
//   net/config.cpp       ConfigState         resetConfig()
//   identity/diskid.cpp  IdentityState       identityReset()
// Left alone, because what they hold is installed by the front-end around
// the run (and a fixture around a test), not made by the run:
//   speech/speech.cpp    SpeechState         speechReset()   the speech back-end
//   audio/sound.cpp      SoundState          soundReset()    observers, the output, the volumes
//   audio/mixer.cpp      MixerState          mixReset()      the output
//   platform/ui.h        the UI seams        setUi()
//
// UI thread, with no connection, receive or connecting thread running
// (before the run, or in a test between runs).
//
// The threads of a running client.  For each: who starts it, what runs on
// it, what it may touch, how it ends.  A unit's header says which of these
// threads call each of its functions; a function named for no thread is for
// the UI thread.
//
//   UI thread       The program's main thread (kordo, kordo-tty,
//                   kordo-headless, kordo.exe).  Runs the front-end's loop,
//                   clientMain, every key (the one key path), the history,
//                   the menus, the views and dialogs, and every task that
//                   other threads hand to it through the front-end's one
//                   UI-thread queue (platform/ui_queue.h, uiCall).  Touches
//                   every unit.  Sleeps in its loop until an event, a queued
//                   task or a deadline; ends when the front-end quits, after
//                   agc_deinit and the joins below.
//   connecting      net/conndlg: started by the connection dialog's Connect
//                   (one at a time, joined before the next and at exit).
//                   Runs the connection series (doConnect2 -> agc_connect ->
//                   login).  Touches the transport and the login state; gives
//                   everything the player sees to the UI thread.  Ends when
//                   the series has connected or given up.
//   reconnection    net/login: a series started after a lost connection on
//                   a thread of its own when the loss was found on the UI
//                   thread (else on the losing thread itself).  Same work and
//                   touch as the connecting thread; joined by
//                   loginJoinSeries() at exit.
//   receive         net/agc: one per connection, owned by its AGCHandle and
//                   started by agc_connect.  Reads the socket, cuts the bytes
//                   into lines, parses each line once (net/protocol) and
//                   queues it for the dispatch thread; answers nothing
//                   itself but the status and challenge lines.  Touches only
//                   its handle.  Ends when the socket stops delivering, after
//                   the close steps (the connection-lost handler).
//   dispatch        net/agc: one per connection, owned by its AGCHandle,
//                   started with the receive thread and joined by it.  Runs
//                   every command handler (app/dispatch) in the order the
//                   lines came; runs of history, menu and sound lines go to
//                   the UI thread in one synchronous call.  Handlers touch
//                   the unit their line names (downloads, dialogs through the
//                   UI thread, sound, files).  Ends when the receive thread
//                   has ended its queue and the queue is empty.
//   sound loader    audio/sound: started at the first sound that is not yet
//                   loaded.  Decodes sound files into samples off every other
//                   thread, then starts the plays that waited for them.
//                   Touches the sound and mixer state under their locks.
//                   Joined by soundReset() and at exit.
//   music decoder   audio/mixer: started with the first streamed music.
//                   Decodes ahead into the streams' feeds; sleeps until a feed
//                   runs low.  Touches the mixer state under its lock.  Ends
//                   with the mixer (mixReset(), exit).
//   sink            the audio output's own thread (SDL's callback thread,
//                   WASAPI's or waveOut's thread, the null sink's clock).
//                   Pulls mixed frames (the mixer, under its lock) and
//                   nothing else.  Rests while nothing sounds (AudioSink
//                   rest/resume); ends when the sink is closed.  The SDL
//                   output adds two threads of its own: one that retires the
//                   device when it rests and opens one when a sound starts,
//                   one that closes retired devices.
//   front-end helpers  kordo-headless's input reader and signal watcher;
//                   GTK's and speech libraries' own threads.  They touch
//                   nothing of the core: they hand their work to the UI
//                   thread.
//
// Each thread that can be named is named (platform/thread_name.h), so that
// the idle benchmark can count wake-ups per thread.
//
#pragma once

void resetCore();
