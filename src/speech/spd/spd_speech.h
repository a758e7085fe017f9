// Linux speech back-ends: Speech Dispatcher for speech, BrlAPI for braille,
// and the test for a running screen reader (Orca).  Linux only; the portable
// core reaches these only through SpeechBackend and SpeechPlatform.
#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "platform/speech_backend.h"

// Where the screen-reader back-end writes each spoken line.  Texts are CP1252.
struct BrailleOutput {
    virtual ~BrailleOutput() = default;
    virtual void write(const std::string& text) = 0;
};

// A BrlAPI connection in tty mode (BrlAPI's default tty), or nullptr when
// BRLTTY is not running, brailleCells refuses its display, or no tty is
// known.  BRLAPI_HOST, when set, names the BRLTTY to reach.
std::unique_ptr<BrailleOutput> brlapiOpen();

// The cells the client writes on a display of `columns` x `rows` driven by
// BRLTTY's `driver`: 0 (no braille) for the "NoBraille" driver, a display of
// one cell or none (BRLTTY's stand-ins for "no display"), or a size no
// display has (a broken reply).
unsigned brailleCells(std::string_view driver, unsigned columns, unsigned rows);

// One whole display line for `text` (CP1252): cut or padded with blanks to
// exactly `cells` characters, counted in CP1252 bytes (one character, so one
// cell, each), control characters (the line ends of a multi-line message)
// shown as blanks, then converted to UTF-8 for BrlAPI's "UTF-8" charset.
std::string brailleLine(std::string_view text, unsigned cells);

// A Speech Dispatcher connection (address from SPEECHD_ADDRESS, else the
// user's default; the daemon is started on demand), or nullptr when it cannot
// be reached.  Messages queue in order; speak(text, true) cancels only this
// connection's speech first.  Text goes out as UTF-8.
// The voice has a rate (0..100 mapped onto -100..100); the screen-reader
// back-end leaves the rate to the user's settings and writes every line to
// `braille` when there is one.
std::unique_ptr<SpeechBackend> spdOpenVoice();
std::unique_ptr<SpeechBackend> spdOpenScreenReader(std::unique_ptr<BrailleOutput> braille);

// Screen-reader presence: the ScreenReaderEnabled property of org.a11y.Status
// on the session bus (1 s bound), or a process of this user named "orca".
bool a11yScreenReaderEnabled();
bool orcaProcessRunning();
bool screenReaderRunning();

// Speech Dispatcher's notifications for messages of connections opened after
// this call (measurements).  `observer` runs on libspeechd's event thread.
enum class SpdEvent { Begin, End, Cancel };
void spdSetEventObserver(std::function<void(SpdEvent, std::size_t messageId)> observer);

// Makes autodetectScreenReader() use the real Linux detection: the library
// loaders (which find nothing here), then the screen reader when Orca runs,
// then the voice.  Call before autodetectScreenReader().
void installSystemSpeech();
