// Wires every server command row to the handler of the module that owns it.
//
// Threads: each handler runs on the connection's dispatch thread, with the
// line as the receive thread parsed it, except the runs of history, menu
// and sound lines, which are handed to the UI thread in one synchronous
// call each and handled there (on the dispatch thread when there is no main
// window).
#pragma once

// Installs the handlers and the lost-connection handler (loginInstall), and
// hands runs of consecutive lines whose work is the UI thread's (history,
// menus, sounds) to it in one call each; called once by start-up before the
// first connection (and by tests that drive whole sessions).
void registerServerCommands();
