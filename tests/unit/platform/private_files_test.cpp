// The game's private files as the game writes them: the configuration (it
// holds the passwords) and the session log (all the server said).
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>

#include "history/history.h"
#include "net/config.h"

namespace fs = std::filesystem;

namespace {
struct TempDir {
    fs::path path;
    mode_t umaskBefore;
    TempDir() : umaskBefore(::umask(022)) {  // the usual umask: fopen's files come out 0644
        std::string t = (fs::temp_directory_path() / "kordo-private-XXXXXX").string();
        path = ::mkdtemp(t.data()) ? fs::path(t) : fs::path();
    }
    ~TempDir() {
        ::umask(umaskBefore);
        std::error_code ec;
        fs::remove_all(path, ec);
    }
};

void write(const fs::path& p, const std::string& bytes, mode_t mode) {
    std::ofstream(p, std::ios::binary) << bytes;
    ::chmod(p.c_str(), mode);
}

std::string read(const fs::path& p) {
    std::ifstream f(p, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(f), {});
}

// "file 600", "link 777", ...: what is at `p` itself, and its mode in octal.
std::string kindOf(const fs::path& p) {
    struct stat st {};
    if (::lstat(p.c_str(), &st) != 0) return "none";
    char mode[8];
    std::snprintf(mode, sizeof mode, "%o", static_cast<unsigned>(st.st_mode & 07777));
    return std::string(S_ISREG(st.st_mode)   ? "file "
                       : S_ISLNK(st.st_mode) ? "link "
                                             : "other ") +
           mode;
}
}  // namespace

TEST(PrivateFiles, ConfigurationIsOwnerOnly) {
    struct Case {
        const char* what;
        std::function<void(const fs::path&)> before;  // what the folder holds first
        bool load;                                    // read (and so create) it first
    };
    const Case cases[] = {
        {"created by default", [](const fs::path&) {}, true},
        {"rewritten over a 0644 file",
         [](const fs::path& d) { write(d / "config-debug.ini", "language=fr\r\n", 0644); }, true},
        {"rewritten over a 0666 temporary file left behind",
         [](const fs::path& d) { write(d / "config-debug.ini.tmp", "half", 0666); }, false},
        {"a link in the temporary file's place",
         [](const fs::path& d) {
             write(d / "victim", "untouched", 0644);
             fs::create_symlink(d / "victim", d / "config-debug.ini.tmp");
         },
         false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TempDir t;
        ASSERT_FALSE(t.path.empty());
        c.before(t.path);
        const fs::path config = t.path / "config-debug.ini";
        if (c.load) {
            loadConfig(config.string());
            EXPECT_EQ(kindOf(config), "file 600");
        }
        ASSERT_TRUE(saveConfig(config.string()));
        EXPECT_EQ(kindOf(config), "file 600");
        EXPECT_NE(read(config).find("server.default="), std::string::npos);
        EXPECT_FALSE(fs::exists(fs::symlink_status(t.path / "config-debug.ini.tmp")));
        if (fs::exists(t.path / "victim")) {
            EXPECT_EQ(read(t.path / "victim"), "untouched");
            EXPECT_EQ(kindOf(t.path / "victim"), "file 644");
        }
    }
}

TEST(PrivateFiles, SessionLogIsOwnerOnly) {
    TempDir t;
    ASSERT_FALSE(t.path.empty());
    const fs::path fresh = t.path / "session-2026-12-10.log";
    const fs::path old = t.path / "session-2026-12-09.log";
    write(old, "Log started on 09.12.2026 08:00:00\r\nbonjour", 0644);
    for (const fs::path& log : {fresh, old}) {
        SCOPED_TRACE(log.filename().string());
        ASSERT_TRUE(historyOpenLog(log.string(), "Log started"));
        historyCloseLog();
        EXPECT_EQ(kindOf(log), "file 600");
    }
    // A log already there is narrowed, not replaced: appended to.
    EXPECT_EQ(read(old), "Log started on 09.12.2026 08:00:00\r\nbonjourLog started");
}
