// A diagnostic sink for tests: installed for its lifetime, it keeps every
// line the core hands over, in order.
#pragma once

#include <mutex>
#include <string>
#include <utility>

#include "platform/diag.h"

struct RecordingDiag : DiagSink {
    RecordingDiag() { setDiagSink(this); }
    ~RecordingDiag() override { setDiagSink(nullptr); }
    void line(std::string_view text) override {
        std::lock_guard<std::mutex> lock(mu_);
        text_.append(text);
    }
    std::string take() {
        std::lock_guard<std::mutex> lock(mu_);
        return std::exchange(text_, std::string());
    }

private:
    std::mutex mu_;
    std::string text_;
};
