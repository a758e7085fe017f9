// Speech back-end seam: one screen reader or voice.  Texts are CP1252; a
// back-end that needs UTF-8 or UTF-16 converts at its own edge.
#pragma once

#include <string>

struct SpeechBackend {
    virtual ~SpeechBackend() = default;
    // Speaks `text`; with `interrupt`, what this client is saying is cut off
    // first.  Without it the text is queued after what is being said.
    virtual void speak(const std::string& text, bool interrupt) = 0;
    // Shows `text` on a braille display, where the back-end has one.
    virtual void braille(const std::string& text) { (void)text; }
    // Speaking rate on the client's scale 0 (slowest) .. 100 (fastest), for
    // the voice back-ends; screen readers keep their own rate and ignore it.
    virtual int rate() { return 50; }
    virtual void setRate(int rate) { (void)rate; }
};
