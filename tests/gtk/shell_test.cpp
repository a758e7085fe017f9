// The desktop shell through GIO, with a stand-in default program recording
// what it is given (the private XDG folders of with_desktop.sh hold it).
#include <gio/gio.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

#include "app/gtk/gio_shell.h"

namespace {

std::string readFile(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    std::ostringstream s;
    s << f.rdbuf();
    return s.str();
}

void writeFile(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

// What the recorder has got once `lines` lines are in, or after 5 s.
std::string recorded(const std::string& record, size_t lines) {
    std::string got;
    for (int i = 0; i < 100; ++i) {
        got = readFile(record);
        if (static_cast<size_t>(std::count(got.begin(), got.end(), '\n')) >= lines) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return got;
}

struct GioShellTest : ::testing::Test {
    std::string dir, record;

    void SetUp() override {
        const char* tmp = std::getenv("KORDO_TEST_TMP");
        const char* data = std::getenv("XDG_DATA_HOME");
        const char* config = std::getenv("XDG_CONFIG_HOME");
        ASSERT_TRUE(tmp && data && config) << "run under with_desktop.sh";
        dir = std::string(tmp) + "/shell";
        record = dir + "/record.txt";
        g_mkdir_with_parents(dir.c_str(), 0700);
        std::remove(record.c_str());  // each test reads only what it caused
        const std::string recorder = dir + "/recorder";
        writeFile(recorder, "#!/bin/sh\nprintf '%s\\n' \"$1\" >> '" + record + "'\n");
        chmod(recorder.c_str(), 0755);
        const std::string apps = std::string(data) + "/applications";
        g_mkdir_with_parents(apps.c_str(), 0700);
        writeFile(apps + "/kordo-shell-recorder.desktop",
                  "[Desktop Entry]\nType=Application\nName=Recorder\nNoDisplay=true\nExec=" +
                      recorder + " %u\nMimeType=x-scheme-handler/http;text/plain;\n");
        g_mkdir_with_parents(config, 0700);
        writeFile(std::string(config) + "/mimeapps.list",
                  "[Default Applications]\nx-scheme-handler/http=kordo-shell-recorder.desktop\n"
                  "text/plain=kordo-shell-recorder.desktop\n");
    }
};

}  // namespace

TEST_F(GioShellTest, OpensAddressesAndFileNamesWithTheDefaultProgram) {
    GioShell shell;
    // CP1252 in, UTF-8 out.
    EXPECT_TRUE(shell.openAddress("http://exemple.test/caf\xE9"));
    // A file name, as the update opens a download that is not a program:
    // relative names are taken in the current folder.
    writeFile(dir + "/notes.txt", "texte\n");
    char* here = g_get_current_dir();
    ASSERT_EQ(chdir(dir.c_str()), 0);
    EXPECT_TRUE(shell.openAddress("notes.txt"));
    EXPECT_EQ(chdir(here), 0);
    g_free(here);
    // GIO hands a local file to the program by its path.
    EXPECT_EQ(recorded(record, 2), "http://exemple.test/caf\xC3\xA9\n" + dir + "/notes.txt\n");
}

TEST_F(GioShellTest, ExecuteFileStartsTheProgram) {
    GioShell shell;
    const std::string program = dir + "/installer";
    const std::string mark = dir + "/installed";
    writeFile(program, "#!/bin/sh\necho ran > '" + mark + "'\n");
    chmod(program.c_str(), 0755);
    EXPECT_TRUE(shell.executeFile(program));
    EXPECT_EQ(recorded(mark, 1), "ran\n");
    EXPECT_FALSE(shell.executeFile(dir + "/no-such-program"));
    // A downloaded installer that is not a program goes to the default
    // program of its type.
    const std::string notes = dir + "/lisez-moi.txt";
    writeFile(notes, "texte\n");
    EXPECT_TRUE(shell.executeFile(notes));
    EXPECT_EQ(recorded(record, 1), notes + "\n");
}
