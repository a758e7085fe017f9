#include "speech/win/window_eyes.h"

#include <windows.h>
#include <objbase.h>

#include <string>

namespace {

const CLSID kClsidSpeak = {0xA42771AD, 0x03C7, 0x11D3, {0x9F, 0x6E, 0x00, 0xC0, 0x95, 0xEE, 0x68, 0x3F}};
const IID kIidISpeak = {0xA42771AC, 0x03C7, 0x11D3, {0x9F, 0x6E, 0x00, 0xC0, 0x95, 0xEE, 0x68, 0x3F}};

// ISpeak: IDispatch's seven slots, then SpeakString and Silence.  Only the
// last two are called; the others are kept for their places.
struct ISpeak;
struct ISpeakVtbl {
    void* queryInterface;
    void* addRef;
    void* release;
    void* getTypeInfoCount;
    void* getTypeInfo;
    void* getIDsOfNames;
    void* invoke;
    HRESULT(STDMETHODCALLTYPE* SpeakString)(ISpeak* self, const wchar_t* text);
    HRESULT(STDMETHODCALLTYPE* Silence)(ISpeak* self);
};
struct ISpeak {
    const ISpeakVtbl* lpVtbl;
};

// CP1252 -> NUL-terminated UTF-16.
std::wstring widen(const std::string& s) {
    if (s.empty()) return std::wstring();
    int n = MultiByteToWideChar(1252, 0, s.data(), static_cast<int>(s.size()), nullptr, 0);
    std::wstring w(static_cast<size_t>(n), L'\0');
    MultiByteToWideChar(1252, 0, s.data(), static_cast<int>(s.size()), w.data(), n);
    return w;
}

struct WindowEyesSpeech : SpeechBackend {
    explicit WindowEyesSpeech(ISpeak* s) : gws(s) {}
    void speak(const std::string& text, bool interrupt) override {
        std::wstring w = widen(text);
        if (interrupt) gws->lpVtbl->Silence(gws);
        gws->lpVtbl->SpeakString(gws, w.c_str());
    }
    ISpeak* gws;
};

}  // namespace

std::unique_ptr<SpeechBackend> windowEyesSpeech() {
    if (FAILED(CoInitialize(nullptr))) return nullptr;
    ISpeak* gws = nullptr;
    HRESULT hr = CoCreateInstance(kClsidSpeak, nullptr,
                                  CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER | CLSCTX_LOCAL_SERVER,
                                  kIidISpeak, reinterpret_cast<void**>(&gws));
    if (FAILED(hr) || !gws) return nullptr;
    return std::make_unique<WindowEyesSpeech>(gws);
}
