// Wires every server command row to the handler of the module that owns it.
#pragma once

// Installs the handlers; called once by start-up before the first
// connection (and by tests that drive whole sessions).
void registerServerCommands();
