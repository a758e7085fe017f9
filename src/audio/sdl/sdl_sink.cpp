#include "audio/sdl/sdl_sink.h"

#include <SDL.h>

#include <cstring>

#include "platform/thread_name.h"

namespace {
// SDL keeps per-thread data (the text of the last error, set by a refused
// open) that it frees itself only on threads it created: a thread of ours
// that called SDL frees it on the way out.
struct SdlThreadData {
    ~SdlThreadData() { SDL_TLSCleanup(); }
};
}  // namespace

void SdlSink::callback(void* self, uint8_t* stream, int len) {
    auto* d = static_cast<Device*>(self);
    SdlSink* s = d->sink;
    if (d->retired) {
        std::memset(stream, 0, size_t(len));
        return;
    }
    const uint64_t seen = s->resumes_.load();
    if (s->pull_(reinterpret_cast<float*>(stream), len / int(sizeof(float) * kChannels))) return;
    std::lock_guard<std::mutex> lock(s->mu_);
    if (s->restAsked_ || s->resting_) return;
    s->restAsked_ = true;
    s->restSeen_ = seen;
    s->cv_.notify_one();
}

bool SdlSink::openDevice() {
    auto d = std::make_unique<Device>();
    d->sink = this;
    SDL_AudioSpec want{}, have{};
    want.freq = kRate;
    want.format = AUDIO_F32SYS;
    want.channels = kChannels;
    want.samples = static_cast<Uint16>(bufferFrames_);
    want.callback = &SdlSink::callback;
    want.userdata = d.get();
    // No allowed changes: SDL converts if the device wants another format.
    d->id = SDL_OpenAudioDevice(nullptr, 0, &want, &have, 0);
    if (d->id == 0) return false;
    device_ = std::move(d);
    SDL_PauseAudioDevice(device_->id, 0);
    return true;
}

void SdlSink::retireDevice() {
    if (!device_) return;
    SDL_LockAudioDevice(device_->id);  // waits for a callback under way
    device_->retired = true;
    SDL_UnlockAudioDevice(device_->id);
    {
        std::lock_guard<std::mutex> lock(closeMu_);
        toClose_.push_back(std::move(device_));
    }
    closeCv_.notify_one();
}

void SdlSink::closeDevice(uint32_t id) {
    SDL_CloseAudioDevice(id);
}

bool SdlSink::reopenDevice() {
    if (openDevice()) return true;
    {
        std::unique_lock<std::mutex> lock(closeMu_);
        if (toClose_.empty() && closesUnderWay_ == 0) return false;
        closedCv_.wait(lock, [&] { return toClose_.empty() && closesUnderWay_ == 0; });
    }
    return openDevice();
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
    {
        std::lock_guard<std::mutex> lock(closeMu_);
        closeStop_ = false;
    }
    if (!openDevice()) {
        close();
        return false;
    }
    restThread_ = std::thread([this] { rest(); });
    closeThread_ = std::thread([this] { closing(); });
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
    SdlThreadData sdlData;
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
                retireDevice();
                lock.lock();
                // A sound that started while the device was retired.
                if (resumes_.load() != seen) wakeAsked_ = true;
            }
        }
        if (wakeAsked_ && !stop_) {
            wakeAsked_ = false;
            if (!resting_) continue;
            lock.unlock();
            const bool ok = device_ || reopenDevice();
            lock.lock();
            // A device that does not open now is tried again at the next
            // sound.
            resting_ = !ok;
        }
    }
}

void SdlSink::closing() {
    setThreadName("kordo-sdl-close");
    SdlThreadData sdlData;
    std::unique_lock<std::mutex> lock(closeMu_);
    for (;;) {
        closeCv_.wait(lock, [&] { return closeStop_ || !toClose_.empty(); });
        if (toClose_.empty()) return;  // stopping, nothing left
        std::unique_ptr<Device> d = std::move(toClose_.front());
        toClose_.pop_front();
        ++closesUnderWay_;
        lock.unlock();
        closeDevice(d->id);  // waits for its callback to return: then d may go
        d.reset();
        lock.lock();
        --closesUnderWay_;
        closedCv_.notify_all();
    }
}

void SdlSink::close() {
    {
        std::lock_guard<std::mutex> lock(mu_);
        stop_ = true;
    }
    cv_.notify_all();
    if (restThread_.joinable()) restThread_.join();
    if (device_) {
        closeDevice(device_->id);  // waits for the callback to return
        device_.reset();
    }
    {
        std::lock_guard<std::mutex> lock(closeMu_);
        closeStop_ = true;
    }
    closeCv_.notify_all();
    if (closeThread_.joinable()) closeThread_.join();  // closes what is left first
    if (subsystem_) SDL_QuitSubSystem(SDL_INIT_AUDIO);
    subsystem_ = false;
    pull_ = nullptr;
}
