#include "app/extensions.h"

#include <dlfcn.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>

#include <filesystem>
#include <thread>

#include "app/core.h"
#include "app/dispatch.h"
#include "net/agc.h"
#include "net/login.h"
#include "support/script_server.h"

namespace fs = std::filesystem;

namespace {
// The name a library would have on disk here (".dll" -> ".so"), as the
// loader would map it without the refusal.
std::string extensionFileNameUnchecked(std::string name) {
    if (name.size() > 4 && name.compare(name.size() - 4, 4, ".dll") == 0) name.replace(name.size() - 4, 4, ".so");
    return name;
}

// A session whose server sends "dllq" lines: the receive thread runs them
// through the dispatch table and the replies come back on the connection.
class Extensions : public ::testing::Test {
protected:
    void SetUp() override {
        root = fs::temp_directory_path() / ("kordo-ext-" + std::to_string(::getpid()));
        fs::remove_all(root);
        fs::create_directories(root / "prog" / "sub");
        for (const fs::path& p : {root / "prog" / "testext.so", root / "testext.so", root / "prog" / "sub" / "testext.so"})
            fs::copy_file(TESTEXT_PATH, p);
        resetCore();
        extensionState.folder = (root / "prog").string() + "/";
        registerServerCommands();
        agc_init();
        std::thread t([&] { conn = server.acceptLogin(1); });
        ASSERT_EQ(loginConnect("127.0.0.1", server.port(), "u", "p"), 1);
        t.join();
        ASSERT_TRUE(conn);
    }
    void TearDown() override {
        agc_deinit();
        resetCore();
        fs::remove_all(root);
    }
    // Sends the request, then a marker request that always answers, and
    // returns what came back before the marker's reply.
    std::string ask(const std::string& payload) {
        conn->send("dllq " + payload + "\ndllq testext.dll:echo|999|marker\n");
        std::string got;
        for (int i = 0; i < 3; i++) {
            std::optional<std::string> line = conn->readLine();
            if (!line) return got + "<timeout>";
            if (*line == "dllqr 999|marker") return got;
            got += *line;
        }
        return got + "<no marker>";
    }

    ScriptServer server;
    std::unique_ptr<ServerConn> conn;
    fs::path root;
};

TEST_F(Extensions, Requests) {
    struct Case {
        const char* payload;
        std::string reply;
    } cases[] = {
        {"testext.dll:echo|5|bonjour \xE0 tous", "dllqr 5|bonjour \xE0 tous"},
        {"testext.dll:echo|7", "dllqr 7|(none)"},          // no argument: null text
        {"testext.dll:echo||8|||arg|", "dllqr 8|arg"},      // runs of separators
        {"testext.dll:echo", "dllqr 0|(none)"},             // no id
        {"testext.dll:echo|4294967295|x", "dllqr -1|x"},    // id is 32-bit signed
        {"testext.dll:nothing|3|x", ""},                    // null result: no reply
        {"testext.dll:absent|3|x", ""},
        {"other.dll:echo|3|x", ""},
        {"testext.dll|3|x", ""},                            // no ":"
        {"", ""},
    };
    for (const Case& c : cases) EXPECT_EQ(ask(c.payload), c.reply) << c.payload;
    EXPECT_EQ(ask("testext.dll:big|1"), "dllqr 1|" + std::string(100000, 'z'));
}

TEST_F(Extensions, LoadedOnceAndKept) {
    EXPECT_EQ(ask("testext.dll:echo|1|a"), "dllqr 1|a");
    // With the file gone, the cached function and the loaded library serve:
    // the same function, and another function of that library.
    fs::remove(root / "prog" / "testext.so");
    EXPECT_EQ(ask("testext.dll:echo|2|b"), "dllqr 2|b");
    EXPECT_EQ(ask("testext.dll:big|3"), "dllqr 3|" + std::string(100000, 'z'));
    EXPECT_EQ(extensionState.libraries.size(), 1u);
    EXPECT_EQ(extensionState.functions.size(), 2u);
    // A function the library lacks leaves the library loaded and cached.
    EXPECT_EQ(ask("testext.dll:absent|4"), "");
    EXPECT_EQ(extensionState.libraries.size(), 1u);
}

TEST_F(Extensions, OnlyBareNamesInTheProgramFolder) {
    std::string abs = (root / "testext.so").string();
    const std::vector<std::string> refused = {"../testext.dll", "sub/testext.dll", "sub\\testext.dll", abs, "..",
                                              "testext.so/"};
    for (const std::string& name : refused) {
        EXPECT_EQ(ask(name + ":echo|1|x"), "") << name;
        EXPECT_EQ(extensionFileName(name), "") << name;
    }
    // A drive letter cuts the field at its ":": library "C", not present.
    EXPECT_EQ(ask("C:" + abs + ":echo|1|x"), "");
    // Only the marker's library was ever loaded.
    ASSERT_EQ(extensionState.libraries.size(), 1u);
    EXPECT_EQ(extensionState.libraries.begin()->first, "testext.dll");
    EXPECT_EQ(extensionFileName("tool.dll"), "tool.so");
    EXPECT_EQ(extensionFileName("tool.dll.dll"), "tool.dll.so");
    EXPECT_EQ(extensionFileName("tool.dlls"), "tool.dlls");
}
// The libraries the client loads itself are never called for the server,
// whatever the spelling, even when a file of that name is in the folder.
TEST_F(Extensions, TheClientsOwnLibrariesAreRefused) {
    const std::vector<std::string> own = {"jfwapi.dll", "JFWAPI.DLL", "nvdaControllerClient32.dll",
                                          "nvdaControllerClient64.dll", "nvdaControllerClient.dll",
                                          "sapi5.dll", "Sapi5", "kernel32.dll", "user32.dll", "ws2_32.dll",
                                          "kordo.exe", "libspeechd.so.2"};
    for (const std::string& name : own) {
        SCOPED_TRACE(name);
        fs::copy_file(TESTEXT_PATH, root / "prog" / extensionFileNameUnchecked(name),
                      fs::copy_options::overwrite_existing);
        EXPECT_TRUE(isClientLibraryName(name));
        EXPECT_EQ(extensionFileName(name), "");
        EXPECT_EQ(ask(name + ":echo|1|x"), "");
    }
    EXPECT_FALSE(isClientLibraryName("testext.dll"));
    EXPECT_FALSE(isClientLibraryName("jfwapix.dll"));
    EXPECT_EQ(ask("testext.dll:echo|2|y"), "dllqr 2|y");
}

// A second name of a library the client has loaded itself is that library:
// refused once loaded, whatever the name says.  The client's own here: a
// library it loaded at run time (as speech loads a screen reader's) and the
// C library it links.  A second name of an extension library is still that
// extension.
TEST_F(Extensions, OtherNamesOfTheClientsOwnModulesAreRefused) {
    const fs::path prog = root / "prog";
    fs::copy_file(TESTEXT_PATH, prog / "reader.so");
    std::unique_ptr<DynLib> reader = loadLibraryFrom(extensionState.folder, "reader.so");
    ASSERT_TRUE(reader);
    fs::create_hard_link(prog / "reader.so", prog / "hardlink.so");
    fs::create_symlink(prog / "reader.so", prog / "symlink.so");
    Dl_info libc{};
    ASSERT_NE(dladdr(reinterpret_cast<void*>(&strerror), &libc), 0);
    ASSERT_TRUE(libc.dli_fname && libc.dli_fname[0] == '/') << libc.dli_fname;
    fs::create_symlink(libc.dli_fname, prog / "clib.so");
    fs::create_hard_link(prog / "testext.so", prog / "testext2.so");

    EXPECT_EQ(ask("testext.dll:echo|1|a"), "dllqr 1|a");
    for (const char* name : {"hardlink.dll", "symlink.dll"}) {
        EXPECT_EQ(ask(std::string(name) + ":echo|2|x"), "") << name;
        EXPECT_EQ(ask(std::string(name) + ":echo|3|x"), "") << name << ", asked again";
    }
    // strerror has the extension's shape: (1, x) would answer its text.
    EXPECT_EQ(ask("clib.dll:strerror|1|x"), "");
    EXPECT_EQ(ask("testext2.dll:echo|4|b"), "dllqr 4|b");
}

// The decision itself, for what the loader here never produces: a second
// mapping of the client's file under a handle of its own (a loader that
// tells files apart by name), a module whose file is gone.
TEST(ExtensionModules, ClientModuleByHandleOrFile) {
    int a = 0, b = 0, c = 0, d = 0;  // distinct addresses standing for module handles
    auto mod = [](const void* h, uint64_t volume, uint64_t index) {
        return ModuleIdentity{h, true, volume, index};
    };
    const ModuleIdentity reader = mod(&a, 7, 100), extension = mod(&b, 7, 200);
    const ModuleIdentity noFile{&c, false, 0, 0};
    const std::vector<ModuleIdentity> before = {reader, extension, noFile};
    const std::vector<const void*> extensions = {&b};
    struct Case {
        const char* what;
        ModuleIdentity loaded;
        bool own;
    } cases[] = {
        {"the reader's handle", reader, true},
        {"a new handle on the reader's file", mod(&d, 7, 100), true},
        {"the file index on another volume", mod(&d, 8, 100), false},
        {"the handle of a module with no file", ModuleIdentity{&c, true, 7, 300}, true},
        {"an extension's handle", extension, false},
        {"a new handle on an extension's file", mod(&d, 7, 200), false},
        {"a new module", mod(&d, 7, 300), false},
        {"a new module with no file", ModuleIdentity{&d, false, 0, 0}, true},
        {"no handle", ModuleIdentity{nullptr, true, 7, 300}, true},
    };
    for (const Case& k : cases)
        EXPECT_EQ(isClientModule(k.loaded, before, extensions), k.own) << k.what;
}
}  // namespace
