#include "files/checkfiles.h"

#include <sys/stat.h>

#include "files/download.h"
#include "history/history.h"
#include "platform/fields.h"

namespace {
// 1970-01-01 00:00:00 UTC as a platform file time.
constexpr uint64_t kUnixEpochFileTime = 116444736000000000ULL;
}  // namespace

uint64_t ft2ms(uint64_t ft) { return (ft - kUnixEpochFileTime) / 10000; }

uint64_t fileTimesMs(const std::string& fn, int r) {
#ifdef _WIN32
    struct _stat64 st;
    if (_stat64(fn.c_str(), &st) != 0) return 0;
    if ((st.st_mode & _S_IFMT) != _S_IFREG) return 0;
#else
    struct stat st;
    if (stat(fn.c_str(), &st) != 0) return 0;
    if (!S_ISREG(st.st_mode)) return 0;
#endif
    int64_t secs = r == 0 ? st.st_ctime : r == 1 ? st.st_atime : st.st_mtime;
    // Through the platform file time so a date before 1970 wraps the same
    // way on every platform.
    uint64_t ft = kUnixEpochFileTime + static_cast<uint64_t>(secs) * 10000000ULL;
    return ft2ms(ft) / 1000;
}

std::vector<CheckEntry> parseCheckList(std::string_view payload) {
    std::vector<CheckEntry> out;
    uint64_t date = 1;
    size_t pos = 0;
    while (pos < payload.size()) {
        if (payload[pos] == ' ') {
            pos++;
            continue;
        }
        size_t end = payload.find(' ', pos);
        if (end == std::string_view::npos) end = payload.size();
        std::string_view tok = payload.substr(pos, end - pos);
        pos = end;
        if (tok.front() == '+') {
            date = leadingDigits(tok.substr(1)).wrapped;
            continue;
        }
        out.push_back({std::string(tok), date});
        date = 1;
    }
    return out;
}

void checkFiles(std::string_view payload) {
    for (const CheckEntry& e : parseCheckList(payload)) {
        // A refused name is not looked at on the disk: it counts as missing
        // and goes through the same messages as a failed download.
        uint64_t cdate = isSafeRelativeName(downloadNames(e.name).local)
                             ? fileTimesMs(filesRoot() + downloadNames(e.name).local, 2)
                             : 0;
        if (cdate >= e.date) continue;
        historyAdd("T\xE9l\xE9" "chargement de " + e.name + "...", HIST_SPEAK);
        downloadFile(e.name);
        historyAdd("T\xE9l\xE9" "chargement de " + e.name + " termin\xE9.", HIST_SPEAK);
    }
}
