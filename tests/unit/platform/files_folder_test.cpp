#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "platform/files_folder.h"

namespace fs = std::filesystem;

namespace {
struct TempDir {
    fs::path path;
    TempDir() {
        std::string t = (fs::temp_directory_path() / "kordo-folder-XXXXXX").string();
        path = ::mkdtemp(t.data()) ? fs::path(t) : fs::path();
    }
    ~TempDir() {
        std::error_code ec;
        fs::remove_all(path, ec);
    }
};

FolderFacts facts(bool writable, bool installed, std::string xdg, std::string home) {
    FolderFacts f;
    f.exeFolder = "/src/kordo/build/src/app/gtk/";
    f.exeFolderWritable = writable;
    f.installed = installed;
    f.xdgDataHome = std::move(xdg);
    f.home = std::move(home);
    return f;
}
}  // namespace

TEST(FilesFolder, ChoiceBetweenOwnFolderAndDataFolder) {
    struct Case {
        FolderFacts f;
        const char* expected;
    };
    const Case cases[] = {
        // A build run where it was built keeps its files beside itself.
        {facts(true, false, "/home/p/data", "/home/p"), "/src/kordo/build/src/app/gtk/"},
        // Installed, or in a folder it cannot write: the data folder.
        {facts(true, true, "/home/p/data", "/home/p"), "/home/p/data/kordo"},
        {facts(false, false, "", "/home/p"), "/home/p/.local/share/kordo"},
        // A relative or empty XDG_DATA_HOME is ignored; trailing slashes go.
        {facts(false, true, "data", "/home/p/"), "/home/p/.local/share/kordo"},
        {facts(false, true, "/x/y//", "/home/p"), "/x/y/kordo"},
        {facts(false, true, "", "/"), "/.local/share/kordo"},
        // Nowhere to go.
        {facts(false, true, "", ""), ""},
        {facts(false, true, "rel", "rel/home"), ""},
    };
    for (const Case& c : cases)
        EXPECT_EQ(chooseFilesFolder(c.f, "kordo"), c.expected)
            << c.f.exeFolderWritable << c.f.installed << " [" << c.f.xdgDataHome << "] ["
            << c.f.home << "]";

    FolderFacts unknownExe = facts(true, false, "/d", "/h");
    unknownExe.exeFolder.clear();
    EXPECT_EQ(chooseFilesFolder(unknownExe, "kordo-server"), "/d/kordo-server");
}

TEST(FilesFolder, InstallTreeByPrefixOrLayout) {
    TempDir t;
    ASSERT_FALSE(t.path.empty());
    const fs::path root = t.path / "root" / "usr";
    fs::create_directories(root / "bin");
    fs::create_directories(t.path / "build" / "bin");
    fs::create_directories(t.path / "prefix" / "bin");

    // An unpacked or staged tree: bin/ with share/kordo/ beside it.
    EXPECT_FALSE(isInstalledTree((root / "bin").string(), "/usr"));
    fs::create_directories(root / "share" / "kordo");
    EXPECT_TRUE(isInstalledTree((root / "bin").string(), "/usr"));
    EXPECT_TRUE(isInstalledTree((root / "bin").string() + "/", "/usr"));
    // A build folder named bin without the share tree is not one.
    EXPECT_FALSE(isInstalledTree((t.path / "build" / "bin").string(), "/usr"));
    // The configured prefix's bin/ is, even alone; the prefix itself is not.
    EXPECT_TRUE(
        isInstalledTree((t.path / "prefix" / "bin").string(), (t.path / "prefix").string()));
    EXPECT_FALSE(isInstalledTree((t.path / "prefix").string(), (t.path / "prefix").string()));
    EXPECT_FALSE(isInstalledTree("", "/usr"));
}

TEST(FilesFolder, MakeCreatesMissingFoldersPrivate) {
    TempDir t;
    ASSERT_FALSE(t.path.empty());
    std::string error;
    const fs::path game = t.path / "home" / ".local" / "share" / "kordo";
    ASSERT_TRUE(makeFilesFolder(game.string(), &error)) << error;
    EXPECT_TRUE(fs::is_directory(game));
    struct stat st {};
    for (const fs::path& made : {game, game.parent_path(), t.path / "home"}) {
        ASSERT_EQ(::stat(made.c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 0777, 0700u) << made;
    }
    // A file in the way, and no folder at all, are reported.
    const fs::path file = t.path / "file";
    {
        FILE* f = std::fopen(file.c_str(), "w");
        ASSERT_TRUE(f);
        std::fclose(f);
    }
    error.clear();
    EXPECT_FALSE(makeFilesFolder((file / "kordo").string(), &error));
    EXPECT_NE(error.find("file"), std::string::npos) << error;
    error.clear();
    EXPECT_FALSE(makeFilesFolder(file.string(), &error));
    EXPECT_FALSE(error.empty());
    error.clear();
    EXPECT_FALSE(makeFilesFolder("", &error));
    EXPECT_NE(error.find("HOME"), std::string::npos) << error;
}

// The game folder holds the configuration with the passwords: whatever it was
// made by, it ends up the player's own and closed to others, or is refused.
TEST(FilesFolder, GameFolderIsPrivateOrRefused) {
    TempDir t;
    ASSERT_FALSE(t.path.empty());
    const fs::path target = t.path / "elsewhere";
    fs::create_directory(target);
    ::chmod(target.c_str(), 0755);
    fs::create_directory_symlink(target, t.path / "link");
    // Another user's folder: one chowned to nobody when the tests run as
    // root, else the root folder, which the test cannot change either.
    fs::path others = "/";
    if (::geteuid() == 0) {
        others = t.path / "nobody";
        fs::create_directory(others);
        ASSERT_EQ(::chmod(others.c_str(), 0755), 0);
        ASSERT_EQ(::chown(others.c_str(), 65534, 65534), 0);
    }
    struct stat othersBefore {};
    ASSERT_EQ(::stat(others.c_str(), &othersBefore), 0);

    struct Case {
        std::string folder;
        mode_t mode;          // made with this mode first (0: not made here)
        const char* refusal;  // part of the reason; null: accepted
    };
    const Case cases[] = {
        {(t.path / "wide").string(), 0755, nullptr},
        {(t.path / "open").string(), 0777, nullptr},
        {(t.path / "group").string() + "/", 0750, nullptr},
        {(t.path / "others-enter").string(), 0701, nullptr},
        {(t.path / "private").string(), 0700, nullptr},
        {(t.path / "link").string(), 0, "symbolic link"},
        {(t.path / "link").string() + "/", 0, "symbolic link"},
        {others.string(), 0, "another user"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.folder);
        if (c.mode) {
            fs::create_directory(c.folder);
            ASSERT_EQ(::chmod(c.folder.c_str(), c.mode), 0);
        }
        std::string error;
        const bool ok = makeFilesFolder(c.folder, &error);
        struct stat st {};
        ASSERT_EQ(::stat(c.folder.c_str(), &st), 0);
        if (!c.refusal) {
            EXPECT_TRUE(ok) << error;
            EXPECT_EQ(st.st_mode & 07777, 0700u) << std::oct << (st.st_mode & 07777);
        } else {
            EXPECT_FALSE(ok);
            EXPECT_NE(error.find(c.refusal), std::string::npos) << error;
            std::string named = c.folder;  // the reason names the folder
            while (named.size() > 1 && named.back() == '/') named.pop_back();
            EXPECT_NE(error.find(named), std::string::npos) << error;
        }
    }
    // What a refusal found is left as it was.
    struct stat st {};
    ASSERT_EQ(::stat(target.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0755u);
    ASSERT_EQ(::stat(others.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode, othersBefore.st_mode);
}
