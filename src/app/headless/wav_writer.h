// Writes interleaved stereo float frames as a 16-bit PCM 44100 Hz stereo
// WAV file.  The header's sizes are filled in by finish().
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

class WavWriter {
public:
    explicit WavWriter(const std::string& path);
    ~WavWriter();
    WavWriter(const WavWriter&) = delete;
    WavWriter& operator=(const WavWriter&) = delete;

    bool ok() const { return f_ != nullptr; }
    void write(const float* frames, int count);
    void finish();

private:
    std::FILE* f_;
    uint32_t dataBytes_ = 0;
};
