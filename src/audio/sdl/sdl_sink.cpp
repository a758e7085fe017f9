#include "audio/sdl/sdl_sink.h"

#include <SDL.h>

void SdlSink::callback(void* self, uint8_t* stream, int len) {
    auto* s = static_cast<SdlSink*>(self);
    s->pull_(reinterpret_cast<float*>(stream), len / int(sizeof(float) * kChannels));
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
    SDL_AudioSpec want{}, have{};
    want.freq = kRate;
    want.format = AUDIO_F32SYS;
    want.channels = kChannels;
    want.samples = static_cast<Uint16>(bufferFrames_);
    want.callback = &SdlSink::callback;
    want.userdata = this;
    // No allowed changes: SDL converts if the device wants another format.
    device_ = SDL_OpenAudioDevice(nullptr, 0, &want, &have, 0);
    if (device_ == 0) {
        close();
        return false;
    }
    SDL_PauseAudioDevice(device_, 0);
    return true;
}

void SdlSink::close() {
    if (device_) SDL_CloseAudioDevice(device_);  // waits for the callback to return
    device_ = 0;
    if (subsystem_) SDL_QuitSubSystem(SDL_INIT_AUDIO);
    subsystem_ = false;
    pull_ = nullptr;
}
