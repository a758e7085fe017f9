#include "app/core.h"

#include "app/extensions.h"
#include "app/keyboard.h"
#include "files/download.h"
#include "history/chat.h"
#include "history/history.h"
#include "identity/diskid.h"
#include "menu/menus.h"
#include "net/config.h"

void resetCore() {
    // Top layer first, down to the bottom: the reverse of start-up.
    keyboardReset();
    extensionsReset();
    filesReset();
    menuReset();
    historyReset();
    chatReset();
    // The session.  SESSION RESETS: the connection's and the login's resets
    // go here, before the configuration they read.
    resetConfig();
    identityReset();
}
