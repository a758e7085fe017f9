// The connection dialog, independent of the widget toolkit: the front-ends
// (GTK, Win32, headless) render a ConnDialog record and call the event
// functions below when the user acts; they never decide anything themselves.
//
// All functions run on the UI thread.  Texts are CP1252 bytes.
#pragma once

#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "platform/caps.h"

// Controls that can hold the focus, in tab order.
enum class ConnDlgControl { Server, Login, Password, Connect, LostPassword, CreateAccount };

// What the dialog shows.  The front-end writes `login` and `password` as the
// user types and reads every field to render.  Its fields take at most
// kMaxCredentialLength characters; connDlgConnect() keeps no more either.
struct ConnDialog {
    std::vector<std::string> serverNames;  // the drop-down list, in list order
    int selection = -1;                    // index in serverNames; -1 for none
    std::string login;                     // the login edit
    std::string password;                  // the password edit (shown hidden)
    ConnDlgControl focus = ConnDlgControl::Login;
    bool open = true;  // false once Connect or Cancel has closed the dialog
    int result = 0;    // 1 when closed by Connect
};

// The texts of the dialog ("&" marks the access key), CP1252.
namespace conndlg_text {
inline constexpr char kTitle[] = "Connexion";
inline constexpr char kServer[] = "&Serveur: ";
inline constexpr char kLogin[] = "Nom d'&utilisateur: ";
inline constexpr char kPassword[] = "Mot de &passe: ";
inline constexpr char kConnect[] = "&Connecter";
inline constexpr char kLostPassword[] = "Mot de passe p&erdu ?";
inline constexpr char kCreateAccount[] = "Cr\xE9" "er un c&ompte";
}  // namespace conndlg_text

// Both texts need at least kMinCredentialLength characters and hold at
// most kMaxCredentialLength (platform/caps.h).

// Opening: the names of the server list (an absent name shows empty); the
// selected entry (config.h) selected here too, with its remembered
// credentials, or no selection and empty fields when the index names no
// entry (an empty list included); the focus on the login.
ConnDialog connDlgOpen();

// The list's selection changed to `index` (-1 or out of range: none): both
// edits take that entry's remembered login and password, discarding what was
// typed.
void connDlgSelectionChanged(ConnDialog* d, int index);

// Connect (the default button or Enter).  Both texts are first cut to
// kMaxCredentialLength characters, as the fields read them.  A login or
// password shorter than kMinCredentialLength then puts the focus back on the
// login and changes nothing else.  With no selected entry nothing happens.  Otherwise serverIndex
// becomes the selection, the entry keeps copies of both texts, the dialog
// closes with result 1 and the connection series starts on its own thread.
// Returns true when the dialog closed.
bool connDlgConnect(ConnDialog* d);

// Cancel (Escape or the close box): asks the front-end to quit with status 0
// and closes the dialog.
void connDlgCancel(ConnDialog* d);

// The page buttons: open the selected entry's account creation or lost
// password page through the shell seam; nothing without a selection or page.
void connDlgCreateAccount(const ConnDialog& d);
void connDlgLostPassword(const ConnDialog& d);

// "Le Kordo [%s]" with the login of the selected entry (empty when none or
// absent).
std::string connDlgWindowTitle();

// The whole dialog: opens the record, lets the front-end's `runModal` show it
// until it is closed (runModal returns when d->open is false, or when the
// application quits under it), then sets the main window's title through the
// UI-thread call, in every case.
void showConnectionDialog(const std::function<void(ConnDialog*)>& runModal);

// The connecting thread.  By default Connect starts doConnect2 on a new
// thread owned by this unit; tests replace the starter (nullptr restores the
// default).
void setConnectionStarter(std::function<void()> starter);
// Joins the connecting thread and the series the login unit started on
// threads of their own.  At exit, after agc_deinit, which makes them end.
void joinConnectingThread();

// The unit's state is one record in conndlg.cpp (the starter and the
// connecting thread), touched on the UI thread only.  connDlgReset() joins
// the thread (after agc_deinit) and restores the default starter; start-up
// calls it, and tests between cases.
void connDlgReset();
