#include "app/core.h"

#include "app/extensions.h"
#include "app/keyboard.h"
#include "files/download.h"
#include "history/chat.h"
#include "history/history.h"
#include "identity/diskid.h"
#include "menu/menus.h"
#include "net/agc.h"
#include "net/config.h"
#include "net/conndlg.h"
#include "net/login.h"

void resetCore() {
    // Top layer first, down to the bottom: the reverse of start-up.
    keyboardReset();
    extensionsReset();
    filesReset();
    menuReset();
    historyReset();
    chatReset();
    // The session: the connecting thread and any reconnection series are
    // joined first, then the connection's tables are cleared, before the
    // configuration they read.
    connDlgReset();
    loginReset();
    agcReset();
    resetConfig();
    identityReset();
}
