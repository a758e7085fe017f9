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
    // Present already: left as it is.
    fs::permissions(game, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec);
    EXPECT_TRUE(makeFilesFolder(game.string() + "/", &error)) << error;
    ASSERT_EQ(::stat(game.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0750u);

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
