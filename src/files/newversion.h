// The client update: the server names the installer of a newer client; the
// player is asked, and on consent the installer is fetched and started and
// the client closes.  Runs on the connection's dispatch thread, whose later
// lines wait for the player's answer and the download.
#pragma once

#include <string>
#include <string_view>

// Asks the player (Yes/No message box, warning icon, "Nouvelle version")
// with the required or the optional prompt; on Yes speaks the progress,
// downloads `s`, and only when this download wrote its file whole, starts
// that file (the local name of downloadNames(s): "x.dllfoo" writes and
// starts "x.dll"); on Yes or when `required`, closes the client.
// When there is no main window the answer counts as No.
void downloadNewVersion(std::string_view s, bool required);

// Starts the downloaded file `s` (a relative name under filesRoot())
// through the shell seam's executeFile: on Windows the shell's "open" action
// on the path; elsewhere the absolute path, which the desktop's shell runs
// when it has an execute permission bit and otherwise opens with the
// default program.  Unsafe names start nothing.
void execute(std::string_view s);

// Closes the client: waits 1 s (clock seam), beeps 131 Hz for 60 ms, then
// closes the client through UiThreadSeam::closeClient, as the player closing the
// main window would (status 0).  Both UI steps go through the UI-thread call.
void kill();
