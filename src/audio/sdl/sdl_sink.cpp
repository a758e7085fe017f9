#include "audio/sdl/sdl_sink.h"

#include <SDL.h>

#include "platform/thread_name.h"

void SdlSink::callback(void* self, uint8_t* stream, int len) {
    auto* s = static_cast<SdlSink*>(self);
    const uint64_t seen = s->resumes_.load();
    if (s->pull_(reinterpret_cast<float*>(stream), len / int(sizeof(float) * kChannels))) return;
    std::lock_guard<std::mutex> lock(s->mu_);
    if (s->restAsked_ || s->resting_) return;
    s->restAsked_ = true;
    s->restSeen_ = seen;
    s->cv_.notify_one();
}

bool SdlSink::openDevice() {
    SDL_AudioSpec want{}, have{};
    want.freq = kRate;
    want.format = AUDIO_F32SYS;
    want.channels = kChannels;
    want.samples = static_cast<Uint16>(bufferFrames_);
    want.callback = &SdlSink::callback;
    want.userdata = this;
    // No allowed changes: SDL converts if the device wants another format.
    device_ = SDL_OpenAudioDevice(nullptr, 0, &want, &have, 0);
    if (device_ == 0) return false;
    SDL_PauseAudioDevice(device_, 0);
    return true;
}

bool SdlSink::open(AudioPull pull) {
    close();
    if (!pull) return false;
    // Starting audio starts SDL's event subsystem, which would otherwise take
    // SIGINT and SIGTERM for a quit event that nothing here reads: the
    // process would no longer end on Ctrl+C or kill.  The program owns its
    // signals; the hint must be set before the subsystem starts.
    SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
    if (SDL_InitSubSystem(SDL_INIT_AUDIO) != 0) return false;
    subsystem_ = true;
    pull_ = std::move(pull);
    {
        std::lock_guard<std::mutex> lock(mu_);
        restAsked_ = resting_ = wakeAsked_ = stop_ = false;
    }
    bool ok;
    {
        std::lock_guard<std::mutex> lock(devMu_);
        ok = openDevice();
    }
    if (!ok) {
        close();
        return false;
    }
    restThread_ = std::thread([this] { rest(); });
    return true;
}

void SdlSink::resume() {
    resumes_.fetch_add(1);
    std::lock_guard<std::mutex> lock(mu_);
    if (resting_) {
        wakeAsked_ = true;
        cv_.notify_one();
    }
}

void SdlSink::rest() {
    setThreadName("kordo-sdl-rest");
    std::unique_lock<std::mutex> lock(mu_);
    for (;;) {
        cv_.wait(lock, [&] { return stop_ || restAsked_ || wakeAsked_; });
        if (stop_) return;
        if (restAsked_) {
            restAsked_ = false;
            const uint64_t seen = restSeen_;
            if (resumes_.load() == seen) {
                resting_ = true;
                lock.unlock();
                {
                    std::lock_guard<std::mutex> dev(devMu_);
                    if (device_) SDL_CloseAudioDevice(device_);  // waits for the callback to return
                    device_ = 0;
                }
                lock.lock();
                // A sound that started while the device closed.
                if (resumes_.load() != seen) wakeAsked_ = true;
            }
        }
        if (wakeAsked_ && !stop_) {
            wakeAsked_ = false;
            if (!resting_) continue;
            lock.unlock();
            bool ok;
            {
                std::lock_guard<std::mutex> dev(devMu_);
                ok = device_ != 0 || openDevice();
            }
            lock.lock();
            // A device that does not open now is tried again at the next
            // sound.
            resting_ = !ok;
        }
    }
}

void SdlSink::close() {
    {
        std::lock_guard<std::mutex> lock(mu_);
        stop_ = true;
    }
    cv_.notify_all();
    if (restThread_.joinable()) restThread_.join();
    {
        std::lock_guard<std::mutex> dev(devMu_);
        if (device_) SDL_CloseAudioDevice(device_);  // waits for the callback to return
        device_ = 0;
    }
    if (subsystem_) SDL_QuitSubSystem(SDL_INIT_AUDIO);
    subsystem_ = false;
    pull_ = nullptr;
}
