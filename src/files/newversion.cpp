#include "files/newversion.h"

#include <filesystem>

#include "files/download.h"
#include "net/agc.h"
#include "platform/clock.h"
#include "platform/shell.h"
#include "platform/ui.h"
#include "speech/speech.h"

namespace {
constexpr int kIdYes = 6;

const char kRequiredPrompt[] =
    "Une nouvelle version du client est disponible.\r\n"
    "Cette mise \xE0 jour est obligatoire pour pouvoir continuer \xE0 jouer.\r\n"
    "Voulez-vous la t\xE9l\xE9" "charger et l'installer maintenant ?";
const char kOptionalPrompt[] =
    "Une nouvelle version du client est disponible.\r\n"
    "Voulez-vous la t\xE9l\xE9" "charger et l'installer maintenant ?";
}  // namespace

void execute(std::string_view s) {
    if (!isSafeRelativeName(s)) return;
    const std::string path = filesRoot() + std::string(s);
#ifdef _WIN32
    shell().executeFile(path);
#else
    // The shell gets the absolute name (the relative one resolves against the
    // working directory, which start-up makes the program folder): whether it
    // runs the file or opens it with the desktop's handler, which takes a
    // URI, it needs no working directory of its own.
    std::error_code ec;
    const std::filesystem::path abs = std::filesystem::absolute(std::filesystem::path(path), ec);
    if (!ec) shell().executeFile(abs.string());
#endif
}

void kill() {
    sysClock().sleepMs(1000);
    uiCall([] { uiDialogs().beep(131, 60); });
    uiCall([] { uiThread().closeClient(); });
}

void downloadNewVersion(std::string_view s, bool required) {
    int answer = 0;  // no main window: counts as No
    const std::string text = required ? kRequiredPrompt : kOptionalPrompt;
    uiCall([&] { answer = uiDialogs().updateQuestion(text, required); });
    if (answer == kIdYes) {
        sayString("T\xE9l\xE9" "chargement du programme d'installation en cours...", true);
        const DownloadResult r = downloadFileFrom(downloadEndpoint(), filesRoot(), s, agc_dispatchCancel());
        sayString("T\xE9l\xE9" "chargement termin\xE9", true);
        // Only the file this download has just written, whole, under the
        // name it wrote (the local name, which differs from `s` when text
        // follows ".dll"): a failed download must not start (or open in its
        // editor) whatever file of that name was already there, such as the
        // configuration.
        if (r == DownloadResult::Written) execute(downloadNames(s).local);
    }
    if (answer == kIdYes || required) kill();
}
