// Wires every server command row to the handler of the module that owns it.
#pragma once

// Installs the handlers and the lost-connection handler (loginInstall), and
// hands runs of consecutive lines whose work is the UI thread's (history,
// menus, sounds) to it in one call each; called once by start-up before the
// first connection (and by tests that drive whole sessions).
void registerServerCommands();
