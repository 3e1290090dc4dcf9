#include <gtest/gtest.h>

#include "common/TestSandbox.h"
#include "platform/ProgramPath.h"
#include "platform/SpecialFolders.h"
#include "services/U_TovikUtils.h"

#include <filesystem>
#include <string>

namespace fs = std::filesystem;
using namespace tintavo;
using tintavo::test::TestSandbox;
using tintavo::test::writeFile;

TEST(DataFolder, IsCompanyAndTitleFolderBelowApplicationData) {
    TestSandbox sandbox;
    const std::string program = (sandbox.root() / "prog/tintavo").string();
    const std::string folder = GetDataFolder(program, "Tintavo");
    EXPECT_EQ(folder, (sandbox.dataHome() / "Orvane/Tintavo/").string());
    EXPECT_TRUE(FolderExists(folder));
    EXPECT_TRUE(FolderExists((sandbox.dataHome() / "Orvane").string()));
    // Created again when something deleted it during the run.
    fs::remove_all(sandbox.dataHome() / "Orvane");
    EXPECT_EQ(GetDataFolder(program, "Tintavo"), folder);
    EXPECT_TRUE(FolderExists(folder));
}

TEST(DataFolder, FallsBackToTheProgramFolder) {
    TestSandbox sandbox;
    const std::string program = (sandbox.root() / "prog/tintavo").string();
    sandbox.setEnv("XDG_DATA_HOME", std::nullopt);
    sandbox.setEnv("HOME", std::nullopt);
    EXPECT_EQ(GetSpecialFolder(platform::CSIDL_APPDATA), "");
    EXPECT_EQ(GetDataFolder(program, "Tintavo"), (sandbox.root() / "prog/").string());
    EXPECT_EQ(GetDataFolder("", "Tintavo"), "") << "never the root folder";

    // An application data folder that cannot be made (a file stands in its way).
    writeFile(sandbox.root() / "blocker", "x");
    sandbox.setEnv("XDG_DATA_HOME", (sandbox.root() / "blocker/share").string());
    EXPECT_EQ(GetDataFolder(program, "Tintavo"), (sandbox.root() / "prog/").string());
    // Relative XDG values are ignored in favour of the default below HOME.
    sandbox.setEnv("HOME", sandbox.home().string());
    sandbox.setEnv("XDG_DATA_HOME", "relative/share");
    EXPECT_EQ(GetDataFolder(program, "Tintavo"),
              (sandbox.home() / ".local/share/Orvane/Tintavo/").string());
}

TEST(Folders, CreateOneLevelAndTellFoldersFromFiles) {
    TestSandbox sandbox;
    const std::string a = (sandbox.root() / "a").string();
    EXPECT_TRUE(CreateFolder(a));
    EXPECT_FALSE(CreateFolder(a)) << "already there";
    EXPECT_FALSE(CreateFolder((sandbox.root() / "x/y").string())) << "one level only";
    EXPECT_TRUE(FolderExists(a));
    EXPECT_TRUE(FolderExists(a + "/"));
    writeFile(sandbox.root() / "f", "x");
    EXPECT_FALSE(FolderExists((sandbox.root() / "f").string()));
    EXPECT_FALSE(FolderExists(""));
    EXPECT_TRUE(FolderExists("/"));
}

TEST(InstalledTest, MatchesDisplayNameOrFileNameIgnoringCase) {
    TestSandbox sandbox;
    EXPECT_FALSE(IsInstalled(ProductName));
    const fs::path user = sandbox.dataHome() / "applications";
    const fs::path system = sandbox.dataDirs() / "applications";

    writeFile(user / "orvane.desktop", "[Desktop Entry]\nName=Orvane\n");
    EXPECT_FALSE(IsInstalled(ProductName)) << "a shorter name is no match";

    writeFile(system / "x.desktop", "[Desktop Entry]\nType=Application\nName=orvane tintavo\n");
    EXPECT_TRUE(IsInstalled(ProductName));
    fs::remove(system / "x.desktop");

    writeFile(system / "y.desktop", "[Desktop Entry]\nName=ORVANE TINTAVO 2.1\nExec=t\n");
    EXPECT_TRUE(IsInstalled(ProductName));
    fs::remove(system / "y.desktop");

    // The display name replaces the file name...
    writeFile(user / "Orvane Tintavo.desktop", "[Desktop Entry]\nName=Something else\n");
    EXPECT_FALSE(IsInstalled(ProductName));
    // ...unless there is no plain Name (a localised one does not count).
    writeFile(user / "Orvane Tintavo.desktop", "[Desktop Entry]\nName[fr]=Autre\n");
    EXPECT_TRUE(IsInstalled(ProductName));
    // A Name outside the [Desktop Entry] group does not count either.
    writeFile(user / "Orvane Tintavo.desktop", "[Desktop Action x]\nName=Other\n");
    EXPECT_TRUE(IsInstalled(ProductName));
}

TEST(InstalledTest, EntryWithTryExecCountsOnlyForThatProgramFile) {
    TestSandbox sandbox;
    const fs::path installed = sandbox.root() / "usr/bin/tintavo";
    const fs::path other = sandbox.root() / "build/tintavo";
    writeFile(installed, "");
    writeFile(other, "");
    writeFile(sandbox.dataDirs() / "applications/orvane-tintavo.desktop",
              "[Desktop Entry]\nName=Orvane Tintavo\nTryExec=" + installed.string() + "\n");
    {
        tintavo::platform::ScopedProgramPathOverride self(installed.string());
        EXPECT_TRUE(IsInstalled(ProductName));
    }
    {
        tintavo::platform::ScopedProgramPathOverride self(other.string());
        EXPECT_FALSE(IsInstalled(ProductName)) << "another copy on the same machine is portable";
        // A program name without a folder says nothing of which copy the entry belongs to.
        writeFile(sandbox.dataDirs() / "applications/orvane-tintavo.desktop",
                  "[Desktop Entry]\nName=Orvane Tintavo\nTryExec=tintavo\n");
        EXPECT_TRUE(IsInstalled(ProductName));
    }
}

TEST(InstalledTest, ReadsEveryDataDirInOrder) {
    TestSandbox sandbox;
    const fs::path second = sandbox.root() / "second";
    sandbox.setEnv("XDG_DATA_DIRS", sandbox.dataDirs().string() + ":relative:" + second.string());
    writeFile(second / "applications/t.desktop", "[Desktop Entry]\nName=Orvane Tintavo 1.0.0.0\n");
    EXPECT_TRUE(IsInstalled(ProductName));
}

TEST(DeleteTreeTest, EverythingGoesWithStar) {
    TestSandbox sandbox;
    const fs::path folder = sandbox.root() / "data";
    writeFile(folder / "ro.txt", "x");
    fs::permissions(folder / "ro.txt", fs::perms::owner_read, fs::perm_options::replace);
    writeFile(folder / ".hidden", "x");
    writeFile(folder / "sub/deeper/a.jpg", "x");
    writeFile(sandbox.root() / "outside/keep.txt", "x");
    fs::create_directory_symlink(sandbox.root() / "outside", folder / "link");
    EXPECT_TRUE(DeleteTree(folder.string(), "*"));
    EXPECT_FALSE(fs::exists(folder));
    EXPECT_TRUE(fs::exists(sandbox.root() / "outside/keep.txt")) << "links are never followed";
}

TEST(DeleteTreeTest, ExtensionOnlyTouchesMatchingNames) {
    TestSandbox sandbox;
    const fs::path folder = sandbox.root() / "data";
    writeFile(folder / "a.SPK", "x");
    writeFile(folder / "c.spk", "x");
    writeFile(folder / "b.txt", "x");
    writeFile(folder / "d.SPK/inner.SPK", "x");
    writeFile(folder / "e/f.SPK", "x");
    EXPECT_TRUE(DeleteTree(folder.string() + "/", "SPK"));
    EXPECT_FALSE(fs::exists(folder / "a.SPK"));
    EXPECT_FALSE(fs::exists(folder / "c.spk"));
    EXPECT_FALSE(fs::exists(folder / "d.SPK"));
    EXPECT_TRUE(fs::exists(folder / "b.txt"));
    EXPECT_TRUE(fs::exists(folder / "e/f.SPK")) << "only folders named .SPK are entered";
    EXPECT_TRUE(DeleteTree((sandbox.root() / "missing").string(), "*"));
}

TEST(CompanyFolder, StaysWhileAnotherProgramKeepsItsFolder) {
    TestSandbox sandbox;
    const fs::path company = sandbox.dataHome() / "Orvane";
    fs::create_directories(company / "Other");
    fs::create_directories(company / "Tintavo");
    DeleteTree((company / "Tintavo").string(), "*");
    RemoveCompanyFolder();
    EXPECT_TRUE(fs::exists(company / "Other"));
    fs::remove(company / "Other");
    writeFile(company / "note.txt", "x");
    RemoveCompanyFolder();
    EXPECT_TRUE(fs::exists(company)) << "files left keep it";
    fs::remove(company / "note.txt");
    RemoveCompanyFolder();
    EXPECT_FALSE(fs::exists(company));
}

TEST(VirtualStore, CleansTheShadowOfTheProgramFolder) {
    TestSandbox sandbox;
    const fs::path shadow = sandbox.stateHome() / "VirtualStore/opt/Tools/Tintavo";
    EXPECT_EQ(CleanVirtualStore("/opt/Tools/Tintavo/"), "") << "no shadow folder";

    writeFile(shadow / "a.SPK", "x");
    fs::permissions(shadow / "a.SPK", fs::perms::owner_read, fs::perm_options::replace);
    EXPECT_EQ(CleanVirtualStore("/opt/Tools/Tintavo/"), shadow.string() + "/");
    EXPECT_FALSE(fs::exists(shadow));

    writeFile(shadow / "a.SPK", "x");
    writeFile(shadow / "b.ini", "x");
    EXPECT_EQ(CleanVirtualStore("/opt/Tools/Tintavo/"), shadow.string() + "/");
    EXPECT_FALSE(fs::exists(shadow / "a.SPK"));
    EXPECT_TRUE(fs::exists(shadow / "b.ini"));
}

TEST(EnvironmentReport, AnswersOnLinux) {
    EXPECT_EQ(YesNoText(true), "Yes");
    EXPECT_EQ(YesNoText(false), "No");
    const std::string text = WindowsVersionText();
    EXPECT_FALSE(text.empty());
    EXPECT_EQ(text.rfind("Linux", 0), 0U) << text;
#if defined(__x86_64__) || defined(__aarch64__)
    EXPECT_TRUE(Is64BitWindows());
#endif
    EXPECT_EQ(RunsAsAdministrator(), geteuid() == 0);
}
