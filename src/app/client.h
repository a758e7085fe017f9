// The client's start-up, run and shut-down sequence, shared by every
// front-end (GTK, Win32, headless).  A front-end implements FrontEnd (the UI
// seam plus its window and loop) and calls clientMain on its UI thread.
#pragma once

#include <functional>
#include <string>

#include "platform/ui.h"

struct AudioSink;
struct DiagSink;
struct ConnDialog;
struct MachineProbe;
struct ShellSeam;

struct FrontEnd : UiSeam {
    // Registers the window class, creates the main window "Le Kordo" and its
    // four controls and applies the control settings.  False when the window
    // class could not be registered (the client then ends with status 1).
    virtual bool createMainWindow() = 0;
    // Shows the main window and lays the controls out.
    virtual void showMainWindow() {}
    // Shows the connection dialog modally until it is closed (d->open false)
    // or a quit request arrives; draws from and writes into *d, calling the
    // connDlg* event functions for what the player does.
    virtual void runConnectionDialog(ConnDialog* d) = 0;
    // Runs the message loop until a quit request; returns its status.
    virtual int runMessageLoop() = 0;
    // The main window is gone: from now on UI-thread calls return without
    // running (other threads must never wait for a loop that has ended).
    virtual void closeMainWindow() = 0;
    // A start-up failure box with no owner, title "Fatal error", error icon.
    virtual void fatalError(const std::string& text) {
        messageBox(text, "Fatal error", MBX_ICONERROR);
    }
    // The client's close is the main window's ordinary close:
    // mainWindowDestroyed().
    void closeClient() override;
};

// What a front-end brings to the core, as a program picks its drivers:
// clientMain installs every seam from here (the front-end itself as the UI)
// in one place as it starts, and takes them all back as it returns, on
// every path.  A seam left null is the null one (no shell, diagnostics
// dropped) or, for the machine probe, the platform's own.  Front-ends
// install nothing themselves.
struct ClientOptions {
    // The program folder; becomes the current directory, against which every
    // relative file name (configuration, sounds, log, downloads) resolves.
    std::string programFolder;
    // The machine identity source; nullptr: the platform's own probe.
    MachineProbe* probe = nullptr;
    // The audio output; nullptr or one that fails to open ends start-up with
    // "Unable to open audio device" and status 2.
    AudioSink* audioSink = nullptr;
    // Chooses the speech back-end (default: autodetectScreenReader()).
    std::function<void()> selectSpeech;
    // Opens addresses and files for the player; nullptr: nothing opens.
    ShellSeam* shell = nullptr;
    // The core's diagnostic lines; nullptr: dropped.  Must accept lines from
    // any thread and outlive clientMain.
    DiagSink* diag = nullptr;
};

// The whole life of the client on the calling (UI) thread.  Returns the exit
// status: 0 after a quit request, 1 when the window class could not be
// registered, 2 when the audio output could not be opened.
int clientMain(FrontEnd& fe, const ClientOptions& options);

// The main window is being destroyed (the player closed it): says "quit" to
// the server when connected, then asks the loop to end with status 0.
void mainWindowDestroyed();

// "session-YYYY-MM-DD.log" and "Log started on DD.MM.YYYY HH:MM:SS" for a
// local time given as seconds since 1970.
std::string sessionLogName(int64_t localSeconds);
std::string sessionLogStartText(int64_t localSeconds);
