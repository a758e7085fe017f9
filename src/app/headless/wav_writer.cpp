#include "app/headless/wav_writer.h"

#include <cmath>
#include <cstring>
#include <vector>

namespace {
void put32(unsigned char* p, uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<unsigned char>(v >> (8 * i));
}
void put16(unsigned char* p, uint16_t v) {
    p[0] = static_cast<unsigned char>(v);
    p[1] = static_cast<unsigned char>(v >> 8);
}

void header(unsigned char* h, uint32_t dataBytes) {
    std::memcpy(h, "RIFF", 4);
    put32(h + 4, 36 + dataBytes);
    std::memcpy(h + 8, "WAVEfmt ", 8);
    put32(h + 16, 16);
    put16(h + 20, 1);   // PCM
    put16(h + 22, 2);   // stereo
    put32(h + 24, 44100);
    put32(h + 28, 44100 * 4);
    put16(h + 32, 4);
    put16(h + 34, 16);
    std::memcpy(h + 36, "data", 4);
    put32(h + 40, dataBytes);
}
}  // namespace

WavWriter::WavWriter(const std::string& path) : f_(std::fopen(path.c_str(), "wb")) {
    if (!f_) return;
    unsigned char h[44];
    header(h, 0);
    std::fwrite(h, 1, sizeof h, f_);
}

WavWriter::~WavWriter() { finish(); }

void WavWriter::write(const float* frames, int count) {
    if (!f_ || count <= 0) return;
    std::vector<unsigned char> buf(static_cast<size_t>(count) * 4);
    for (int i = 0; i < count * 2; ++i) {
        float v = frames[i];
        if (!(v > -1.0f)) v = -1.0f;  // also catches NaN
        if (v > 1.0f) v = 1.0f;
        put16(&buf[static_cast<size_t>(i) * 2],
              static_cast<uint16_t>(static_cast<int16_t>(std::lrint(v * 32767.0f))));
    }
    dataBytes_ += static_cast<uint32_t>(fwrite(buf.data(), 1, buf.size(), f_));
}

void WavWriter::finish() {
    if (!f_) return;
    unsigned char h[44];
    header(h, dataBytes_);
    std::fseek(f_, 0, SEEK_SET);
    std::fwrite(h, 1, sizeof h, f_);
    std::fclose(f_);
    f_ = nullptr;
}
