#include "audio/wasapi/waveout_sink.h"

#include <mmsystem.h>

#include <cmath>

bool WaveOutSink::open(AudioPull pull) {
    close();
    if (!pull) return false;
    WAVEFORMATEX fmt{};
    fmt.wFormatTag = WAVE_FORMAT_PCM;
    fmt.nChannels = kChannels;
    fmt.nSamplesPerSec = kRate;
    fmt.wBitsPerSample = 16;
    fmt.nBlockAlign = static_cast<WORD>(fmt.nChannels * fmt.wBitsPerSample / 8);
    fmt.nAvgBytesPerSec = fmt.nSamplesPerSec * fmt.nBlockAlign;
    event_ = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    if (!event_) return false;
    wake_ = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    if (!wake_) {
        close();
        return false;
    }
    if (waveOutOpen(&device_, WAVE_MAPPER, &fmt, reinterpret_cast<DWORD_PTR>(event_), 0,
                    CALLBACK_EVENT) != MMSYSERR_NOERROR) {
        device_ = nullptr;
        close();
        return false;
    }
    pull_ = std::move(pull);
    headers_.assign(static_cast<size_t>(bufferCount_), WAVEHDR{});
    data_.assign(static_cast<size_t>(bufferCount_),
                 std::vector<int16_t>(static_cast<size_t>(bufferFrames_ * kChannels)));
    mix_.assign(static_cast<size_t>(bufferFrames_ * kChannels), 0.0f);
    for (int i = 0; i < bufferCount_; ++i) {
        WAVEHDR& h = headers_[static_cast<size_t>(i)];
        h.lpData = reinterpret_cast<LPSTR>(data_[static_cast<size_t>(i)].data());
        h.dwBufferLength = static_cast<DWORD>(bufferFrames_ * kChannels * sizeof(int16_t));
        if (waveOutPrepareHeader(device_, &h, sizeof h) != MMSYSERR_NOERROR) {
            close();
            return false;
        }
    }
    for (int i = 0; i < bufferCount_; ++i) {
        if (!submit(i)) {
            close();
            return false;
        }
    }
    stop_ = false;
    thread_ = std::thread([this] { run(); });
    return true;
}

bool WaveOutSink::submit(int i) {
    WAVEHDR& h = headers_[static_cast<size_t>(i)];
    more_ = pull_(mix_.data(), bufferFrames_);
    int16_t* out = data_[static_cast<size_t>(i)].data();
    for (size_t k = 0; k < mix_.size(); ++k) {
        float v = mix_[k];
        if (!(v > -1.0f)) v = -1.0f;  // NaN clips low
        if (v > 1.0f) v = 1.0f;
        out[k] = static_cast<int16_t>(std::lrintf(v * 32767.0f));
    }
    h.dwFlags &= ~static_cast<DWORD>(WHDR_DONE);
    return waveOutWrite(device_, &h, sizeof h) == MMSYSERR_NOERROR;
}

void WaveOutSink::run() {
    bool resting = false;
    uint64_t restSeen = 0;
    while (!stop_) {
        HANDLE events[2] = {event_, wake_};
        WaitForMultipleObjects(2, events, FALSE, INFINITE);
        // Resting: the buffers queued play out (their done events come and
        // are let pass) and none is refilled until a resume().
        if (resting && resumes_.load() == restSeen) continue;
        resting = false;
        for (int i = 0; i < bufferCount_ && !stop_; ++i) {
            if (headers_[static_cast<size_t>(i)].dwFlags & WHDR_DONE) {
                const uint64_t seen = resumes_.load();
                if (!submit(i)) return;  // device lost: the sink goes quiet
                if (!more_ && resumes_.load() == seen) {
                    resting = true;
                    restSeen = seen;
                    break;
                }
            }
        }
    }
}

void WaveOutSink::resume() {
    resumes_.fetch_add(1);
    if (wake_) SetEvent(wake_);
}

void WaveOutSink::close() {
    stop_ = true;
    if (wake_) SetEvent(wake_);
    if (thread_.joinable()) thread_.join();
    if (device_) {
        waveOutReset(device_);  // marks every queued buffer done
        for (WAVEHDR& h : headers_) {
            if (h.dwFlags & WHDR_PREPARED) waveOutUnprepareHeader(device_, &h, sizeof h);
        }
        waveOutClose(device_);
        device_ = nullptr;
    }
    if (event_) CloseHandle(event_);
    event_ = nullptr;
    if (wake_) CloseHandle(wake_);
    wake_ = nullptr;
    headers_.clear();
    data_.clear();
    pull_ = nullptr;
}
