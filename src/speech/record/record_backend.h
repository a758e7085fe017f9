// A speech back-end that records what it is asked to say (tests, headless).
#pragma once

#include <mutex>
#include <string>
#include <vector>

#include "platform/speech_backend.h"

struct SpokenLine {
    std::string text;
    bool interrupt;
    bool operator==(const SpokenLine&) const = default;
};

class RecordingSpeech : public SpeechBackend {
public:
    void speak(const std::string& text, bool interrupt) override {
        std::lock_guard<std::mutex> lock(mu_);
        lines_.push_back({text, interrupt});
    }
    void braille(const std::string& text) override {
        std::lock_guard<std::mutex> lock(mu_);
        brailled_.push_back(text);
    }
    std::vector<SpokenLine> lines() const {
        std::lock_guard<std::mutex> lock(mu_);
        return lines_;
    }
    std::vector<std::string> brailled() const {
        std::lock_guard<std::mutex> lock(mu_);
        return brailled_;
    }
    void clear() {
        std::lock_guard<std::mutex> lock(mu_);
        lines_.clear();
        brailled_.clear();
    }

private:
    mutable std::mutex mu_;
    std::vector<SpokenLine> lines_;
    std::vector<std::string> brailled_;
};
