// Speech output: back-end selection at start-up and the one speech operation
// of the client.  Texts are CP1252 bytes.
//
// Threads: detection runs once on the UI thread before other threads start;
// sayString() and the voice commands may be called from any thread (UI,
// receive, connecting) and are serialised internally, so a line is handed to
// the back-end whole and in the order the calls were entered.
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

struct SpeechBackend;
struct DynLib;
struct DynLibLoader;

// Values of `current`: which back-end speaks.
enum : int {
    kSpeechNone = 0,          // nothing: sayString is silent
    kSpeechJaws = 1,          // jfwapi.dll
    kSpeechNvda = 2,          // nvdaControllerClient.dll
    kSpeechNvda32 = 3,        // nvdaControllerClient32.dll
    kSpeechNvda64 = 4,        // nvdaControllerClient64.dll
    kSpeechWindowEyes = 5,    // Window-Eyes COM speech object
    kSpeechVoice = 6,         // sapi5.dll, or the platform's voice stand-in
    kSpeechScreenReader = 7,  // the platform's screen reader (Linux: Orca is running)
};

// What detection asks of the platform.  Every member is optional: an absent
// one makes its loader fail at once, so the portable logic runs (and fails
// over to the next loader) on any platform.
struct SpeechPlatform {
    DynLibLoader* libraries = nullptr;      // JAWS, NVDA and SAPI helper libraries
    std::function<bool()> jawsWindowExists;  // a top-level "JFWUI2" window titled "Jaws"
    std::function<bool()> isIn64BitMode;     // a 32-bit client on 64-bit Windows
    // The client itself is a 64-bit program.  A process loads libraries of
    // its own architecture only, so the NVDA loaders swap roles: the 32-bit
    // library is never tried and the 64-bit one always is (isIn64BitMode is
    // not asked).  The order of the loaders and their values stay the same.
    bool program64Bit = false;
    // Each returns the ready back-end, or nullptr when it is not available.
    std::function<std::unique_ptr<SpeechBackend>()> windowEyes;    // Window-Eyes running
    std::function<std::unique_ptr<SpeechBackend>()> screenReader;  // tried after Window-Eyes
    // Stand-in for the SAPI helper where "sapi5.dll" does not load: a voice
    // with an adjustable rate, off until the player switches it on.
    std::function<std::unique_ptr<SpeechBackend>()> voice;
};

// Sets what autodetectScreenReader() will try.  Call before detection.
void setSpeechPlatform(SpeechPlatform platform);

// Runs the loaders in order (JAWS, NVDA 32-bit, NVDA 64-bit, NVDA, Window-Eyes,
// platform screen reader, voice) and keeps the first that succeeds.  Returns
// true when one did; afterwards `current` is that loader's value, or 0.
bool autodetectScreenReader();

// The selected back-end's value (see the enum above).
int speechCurrent();

// Speaks `s` (CP1252) through the selected back-end; silent when none, and
// under the voice back-end silent while the voice is switched off.
void sayString(const std::string& s, bool interrupt);

// The voice switch: whether the voice back-end speaks.  Starts false on every
// run; has no effect on the screen-reader back-ends.
void sapiEnable(bool enabled);
bool sapiIsEnabled();

// Changes the voice's rate by `x` (clamped to 0..100) and says "Plus vite" or
// "Moins vite" even while the voice is off.  Does nothing unless the voice
// back-end is selected.
void sapiSpeedChange(int x);

// The player's voice switch command: flips the switch and, when the voice is
// now on, says "Voix SAPI activée" (under a screen reader, through it).
void sapiSwitch();

// Installs `backend` as the selected one with value `current`, bypassing
// detection (headless front-end, tests).  The caller keeps ownership and keeps
// it alive while installed.  speechSpeaksMenus() follows: true for the voice
// value only.
void selectSpeechBackend(int current, SpeechBackend* backend);

// Installs `backend` as a screen reader (value 7; nullptr: none, value 0).
void setSpeechBackend(SpeechBackend* backend);
SpeechBackend* speechBackend();

// True when the client speaks menu items itself (the voice back-end is in
// use); false under a screen reader, which follows the list.  Follows
// back-end selection; any thread.
bool speechSpeaksMenus();

// Back to the start-of-run state: no back-end, value 0, voice off, default
// platform (nothing loads), loaded libraries released.  The unit's state is
// one record, private to speech.cpp; the front-end's selection
// (ClientOptions::selectSpeech) installs the back-end, so resetCore() leaves
// this unit alone.
void speechReset();
