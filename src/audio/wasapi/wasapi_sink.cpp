#include "audio/wasapi/wasapi_sink.h"

#include <audioclient.h>
#include <mmdeviceapi.h>
#include <mmreg.h>

#include <cstring>
#include <vector>

namespace {

// The COM identifiers, spelled out so that no import library is needed.
const CLSID kClsidDeviceEnumerator = {0xBCDE0395, 0xE52F, 0x467C, {0x8E, 0x3D, 0xC4, 0x57, 0x92, 0x91, 0x69, 0x2E}};
const IID kIidDeviceEnumerator = {0xA95664D2, 0x9614, 0x4F35, {0xA7, 0x46, 0xDE, 0x8D, 0xB6, 0x36, 0x17, 0xE6}};
const IID kIidAudioClient = {0x1CB9AD4C, 0xDBFA, 0x4C32, {0xB1, 0x78, 0xC2, 0xF5, 0x68, 0xA7, 0x03, 0xB2}};
const IID kIidRenderClient = {0xF294ACFC, 0x3146, 0x4483, {0xA7, 0xBF, 0xAD, 0xDC, 0xA7, 0xC2, 0x60, 0xE2}};
const GUID kSubtypeFloat = {0x00000003, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}};

constexpr DWORD kAutoConvertPcm = 0x80000000;      // AUDCLNT_STREAMFLAGS_AUTOCONVERTPCM
constexpr DWORD kSrcDefaultQuality = 0x08000000;   // AUDCLNT_STREAMFLAGS_SRC_DEFAULT_QUALITY
constexpr REFERENCE_TIME kBufferTime = 400000;     // 40 ms in 100 ns units
constexpr HRESULT kDeviceInvalidated = static_cast<HRESULT>(0x88890004);

template <typename T>
void release(T*& p) {
    if (p) p->Release();
    p = nullptr;
}

// One opened endpoint; everything released by the destructor.
struct Endpoint {
    IMMDeviceEnumerator* enumerator = nullptr;
    IMMDevice* device = nullptr;
    IAudioClient* client = nullptr;
    IAudioRenderClient* render = nullptr;
    HANDLE event = nullptr;
    UINT32 frames = 0;  // the engine's buffer, in frames

    ~Endpoint() {
        if (client) client->Stop();
        release(render);
        release(client);
        release(device);
        release(enumerator);
        if (event) CloseHandle(event);
    }

    bool open() {
        if (FAILED(CoCreateInstance(kClsidDeviceEnumerator, nullptr, CLSCTX_ALL, kIidDeviceEnumerator,
                                    reinterpret_cast<void**>(&enumerator))))
            return false;
        if (FAILED(enumerator->GetDefaultAudioEndpoint(eRender, eConsole, &device))) return false;
        if (FAILED(device->Activate(kIidAudioClient, CLSCTX_ALL, nullptr,
                                    reinterpret_cast<void**>(&client))))
            return false;
        WAVEFORMATEXTENSIBLE fmt{};
        fmt.Format.wFormatTag = WAVE_FORMAT_EXTENSIBLE;
        fmt.Format.nChannels = AudioSink::kChannels;
        fmt.Format.nSamplesPerSec = AudioSink::kRate;
        fmt.Format.wBitsPerSample = 32;
        fmt.Format.nBlockAlign = static_cast<WORD>(fmt.Format.nChannels * 4);
        fmt.Format.nAvgBytesPerSec = fmt.Format.nSamplesPerSec * fmt.Format.nBlockAlign;
        fmt.Format.cbSize = sizeof(WAVEFORMATEXTENSIBLE) - sizeof(WAVEFORMATEX);
        fmt.Samples.wValidBitsPerSample = 32;
        fmt.dwChannelMask = SPEAKER_FRONT_LEFT | SPEAKER_FRONT_RIGHT;
        fmt.SubFormat = kSubtypeFloat;
        if (FAILED(client->Initialize(AUDCLNT_SHAREMODE_SHARED,
                                      AUDCLNT_STREAMFLAGS_EVENTCALLBACK | kAutoConvertPcm | kSrcDefaultQuality,
                                      kBufferTime, 0, &fmt.Format, nullptr)))
            return false;
        event = CreateEventA(nullptr, FALSE, FALSE, nullptr);
        if (!event || FAILED(client->SetEventHandle(event))) return false;
        if (FAILED(client->GetBufferSize(&frames)) || frames == 0) return false;
        if (FAILED(client->GetService(kIidRenderClient, reinterpret_cast<void**>(&render)))) return false;
        return true;
    }

    // Fills what the engine has room for.  S_OK, or the failing call's
    // code; *more is false when the pull said the output may rest.
    HRESULT fill(const AudioPull& pull, bool* more) {
        *more = true;
        UINT32 padding = 0;
        HRESULT hr = client->GetCurrentPadding(&padding);
        if (FAILED(hr)) return hr;
        UINT32 room = frames - padding;
        if (room == 0) return S_OK;
        BYTE* data = nullptr;
        hr = render->GetBuffer(room, &data);
        if (FAILED(hr)) return hr;
        *more = pull(reinterpret_cast<float*>(data), static_cast<int>(room));
        return render->ReleaseBuffer(room, 0);
    }
};

}  // namespace

bool WasapiSink::open(AudioPull pull) {
    close();
    if (!pull) return false;
    pull_ = std::move(pull);
    stop_ = false;
    if (!wake_) wake_ = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    if (!wake_) return false;
    // 0 while opening, 1 opened, -1 failed; shared with the thread, which may
    // outlive a failed open() by a little.
    auto opened = std::make_shared<std::atomic<int>>(0);
    thread_ = std::thread([this, opened] { run(opened); });
    while (opened->load() == 0) Sleep(1);
    if (opened->load() < 0) {
        close();
        return false;
    }
    return true;
}

void WasapiSink::run(std::shared_ptr<std::atomic<int>> opened) {
    const bool com = SUCCEEDED(CoInitializeEx(nullptr, COINIT_MULTITHREADED));
    bool first = true;
    bool more = true;
    uint64_t seen = 0;  // resumes_ before the latest pull
    while (!stop_) {
        auto ep = std::make_unique<Endpoint>();
        seen = resumes_.load();
        bool ok = ep->open() && SUCCEEDED(ep->fill(pull_, &more)) && SUCCEEDED(ep->client->Start());
        if (first) {
            opened->store(ok ? 1 : -1);
            first = false;
            if (!ok) break;
        }
        if (!ok) {
            // A lost device whose replacement is not ready yet: try again
            // shortly, silent meanwhile.
            ep.reset();
            Sleep(500);
            continue;
        }
        while (!stop_) {
            if (!more) {
                // Nothing sounds: the stream stops and the thread sleeps
                // until resume() or close() sets wake_ (a resume() since the
                // pull that said so cancels the rest).
                if (resumes_.load() == seen && SUCCEEDED(ep->client->Stop())) {
                    WaitForSingleObject(wake_, INFINITE);
                    if (stop_) break;
                    seen = resumes_.load();
                    HRESULT hr = ep->fill(pull_, &more);
                    if (hr == kDeviceInvalidated) break;
                    ep->client->Start();
                    continue;
                }
            }
            HANDLE events[2] = {ep->event, wake_};
            WaitForMultipleObjects(2, events, FALSE, 200);
            seen = resumes_.load();
            HRESULT hr = ep->fill(pull_, &more);
            if (hr == kDeviceInvalidated) break;  // re-open on the new default
            if (FAILED(hr)) {
                Sleep(50);
            }
        }
    }
    if (com) CoUninitialize();
}

void WasapiSink::close() {
    stop_ = true;
    if (wake_) SetEvent(wake_);
    if (thread_.joinable()) thread_.join();
    pull_ = nullptr;
}

void WasapiSink::resume() {
    resumes_.fetch_add(1);
    if (wake_) SetEvent(wake_);
}

WasapiSink::~WasapiSink() {
    close();
    if (wake_) CloseHandle(wake_);
}

bool WindowsSink::open(AudioPull pull) {
    close();
    if (wasapi_.open(pull)) {
        active_ = &wasapi_;
        active_name_ = "wasapi";
        return true;
    }
    if (waveOut_.open(std::move(pull))) {
        active_ = &waveOut_;
        active_name_ = "waveout";
        return true;
    }
    return false;
}

void WindowsSink::close() {
    if (active_) active_->close();
    active_ = nullptr;
}

void WindowsSink::resume() {
    if (active_) active_->resume();
}
