// Wires every server command row to the handler of the module that owns it.
#pragma once

// Installs the handlers, and hands runs of consecutive history lines to the
// UI thread in one call each, and the lost-connection handler (loginInstall); called once by start-up before the first
// connection (and by tests that drive whole sessions).
void registerServerCommands();
