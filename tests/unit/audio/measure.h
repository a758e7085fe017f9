// Measurements of rendered stereo audio for the audio tests.
#pragma once

#include <cstdlib>
#include <string>
#include <vector>

struct Energy {
    double l = 0, r = 0;
};

inline Energy energyOf(const std::vector<float>& st) {
    Energy e;
    for (size_t i = 0; i + 1 < st.size(); i += 2) {
        e.l += double(st[i]) * st[i];
        e.r += double(st[i + 1]) * st[i + 1];
    }
    return e;
}

// Dominant frequency of the left channel in Hz, from its rising zero
// crossings; good to a fraction of a percent for a clean tone.
inline double dominantHz(const std::vector<float>& st, int rate = 44100) {
    int first = -1, last = -1, crossings = 0;
    for (size_t i = 2; i < st.size(); i += 2) {
        if (st[i - 2] < 0 && st[i] >= 0) {
            int f = int(i / 2);
            if (first < 0) first = f;
            else ++crossings;
            last = f;
        }
    }
    if (crossings == 0) return 0;
    return double(crossings) * rate / double(last - first);
}

// Runs a shell command that writes a test sound; true when it succeeded.
inline bool makeSound(const std::string& cmd) { return std::system(cmd.c_str()) == 0; }
