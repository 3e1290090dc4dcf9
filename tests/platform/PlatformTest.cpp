#include <gtest/gtest.h>

#include "common/TestSandbox.h"
#include "platform/InstalledPrograms.h"
#include "platform/OsInfo.h"
#include "platform/PathUtils.h"
#include "platform/ProgramPath.h"
#include "platform/ShellLaunch.h"
#include "platform/SpecialFolders.h"

#include <filesystem>
#include <sys/stat.h>

namespace fs = std::filesystem;
using namespace tintavo::platform;
using tintavo::test::TestSandbox;

TEST(Paths, DelimiterHelpers) {
    EXPECT_EQ(IncludeTrailingPathDelimiter("/a"), "/a/");
    EXPECT_EQ(IncludeTrailingPathDelimiter("/a/"), "/a/");
    EXPECT_EQ(IncludeTrailingPathDelimiter(""), "/");
    EXPECT_EQ(ExtractFilePath("/opt/t/tintavo"), "/opt/t/");
    EXPECT_EQ(ExtractFilePath("tintavo"), "");
    EXPECT_EQ(ExtractFileName("/opt/t/tintavo"), "tintavo");
}

TEST(Paths, EnvironmentReferences) {
    TestSandbox sandbox;
    sandbox.setEnv("TT_A", "alpha");
    sandbox.setEnv("TT_UNSET", std::nullopt);
    EXPECT_EQ(ExpandEnvironmentReferences("%TT_A%/x"), "alpha/x");
    EXPECT_EQ(ExpandEnvironmentReferences("$TT_A/x ${TT_A}y"), "alpha/x alphay");
    EXPECT_EQ(ExpandEnvironmentReferences("%TT_UNSET%|$TT_UNSET|${TT_UNSET}"),
              "%TT_UNSET%|$TT_UNSET|${TT_UNSET}");
    EXPECT_EQ(ExpandEnvironmentReferences("100% sure $ 5 %"), "100% sure $ 5 %");
    EXPECT_EQ(ExpandEnvironmentReferences("${unclosed"), "${unclosed");
}

TEST(ProgramPathTest, RealAndOverridden) {
    const std::string real = ProgramFilePath();
    ASSERT_FALSE(real.empty());
    EXPECT_EQ(real.front(), '/');
    EXPECT_EQ(ProgramFolder(), real.substr(0, real.rfind('/') + 1));
    {
        ScopedProgramPathOverride override("/tmp/box/tintavo");
        EXPECT_EQ(ProgramFilePath(), "/tmp/box/tintavo");
        EXPECT_EQ(ProgramFolder(), "/tmp/box/");
    }
    EXPECT_EQ(ProgramFilePath(), real);
}

TEST(SpecialFoldersTest, FromXdgVariablesCreatedWhenMissing) {
    TestSandbox sandbox;
    EXPECT_EQ(SpecialFolderPath(CSIDL_APPDATA), sandbox.dataHome().string());
    EXPECT_TRUE(fs::is_directory(sandbox.dataHome()));
    EXPECT_EQ(fs::status(sandbox.dataHome()).permissions() & fs::perms::all, fs::perms::owner_all);
    EXPECT_EQ(SpecialFolderPath(CSIDL_LOCAL_APPDATA), sandbox.stateHome().string());
    EXPECT_EQ(SpecialFolderPath(5), "");
    sandbox.setEnv("XDG_STATE_HOME", std::nullopt);
    EXPECT_EQ(SpecialFolderPath(CSIDL_LOCAL_APPDATA), (sandbox.home() / ".local/state").string());
    sandbox.setEnv("XDG_DATA_HOME", sandbox.root().string() + "///");
    EXPECT_EQ(SpecialFolderPath(CSIDL_APPDATA), sandbox.root().string());
}

TEST(DesktopEntries, DisplayNameRules) {
    EXPECT_EQ(DesktopEntryDisplayName("[Desktop Entry]\r\nName = A b \r\n", "f.desktop"), "A b");
    EXPECT_EQ(DesktopEntryDisplayName("Name=Outside\n[Desktop Entry]\nNameX=1\n", "f.desktop"),
              "f");
    EXPECT_EQ(DesktopEntryDisplayName("", "f.desktop"), "f");
    EXPECT_EQ(DesktopEntryDisplayName("[Desktop Entry]\nName=\n", "g.desktop"), "g");
    EXPECT_EQ(DesktopEntryValue("[Desktop Entry]\nTryExecX=/a\nTryExec = /b \n", "TryExec"), "/b");
    EXPECT_EQ(DesktopEntryValue("[Desktop Action x]\nTryExec=/c\n", "TryExec"), "");
}

TEST(DesktopEntries, ListUserEntriesFirstThenDataDirs) {
    TestSandbox sandbox;
    tintavo::test::writeFile(sandbox.dataDirs() / "applications/a.desktop",
                             "[Desktop Entry]\nName=Sys\n");
    tintavo::test::writeFile(sandbox.dataHome() / "applications/z.desktop",
                             "[Desktop Entry]\nName=User\n");
    tintavo::test::writeFile(sandbox.dataHome() / "applications/b.desktop", "");
    tintavo::test::writeFile(sandbox.dataHome() / "applications/readme.txt", "Name=No");
    EXPECT_EQ(InstalledProgramNames(), (std::vector<std::string>{"b", "User", "Sys"}));
}

TEST(WindowsVersion, NineXFamily) {
    WindowsVersionInfo info;
    info.versionQueryOk = true;
    info.platformId = 1;
    info.major = 4;
    info.minor = 10;
    info.servicePack = " A ";
    EXPECT_EQ(WindowsVersionTextFromInfo(info), "4.10 (98SE)");
    info.servicePack = "A";
    EXPECT_EQ(WindowsVersionTextFromInfo(info), "4.10 (98)") << "only the second character counts";
    info.servicePack = "";
    EXPECT_EQ(WindowsVersionTextFromInfo(info), "4.10 (98)");
    info.minor = 0;
    EXPECT_EQ(WindowsVersionTextFromInfo(info), "4.0 (95)");
    info.minor = 90;
    EXPECT_EQ(WindowsVersionTextFromInfo(info), "4.90 (ME)");
    info.minor = 3;
    EXPECT_EQ(WindowsVersionTextFromInfo(info), "4.3 (Unknown)");
}

TEST(WindowsVersion, NtFamilyUsesTheWorkstationNumbers) {
    WindowsVersionInfo info;
    info.versionQueryOk = true;
    info.platformId = 2;
    info.major = 6;
    info.minor = 2;
    info.workstationQueryOk = true;
    const std::pair<std::pair<unsigned, unsigned>, const char*> cases[] = {
        {{5, 0}, "5.0 (Windows 2000)"}, {{5, 1}, "5.1 (Windows XP)"},  {{5, 2}, "5.2"},
        {{6, 0}, "6.0 (Vista)"},        {{6, 1}, "6.1 (Seven)"},       {{6, 2}, "6.2 (Windows8)"},
        {{6, 3}, "6.3 (Windows8.1)"},   {{10, 0}, "10.0 (Windows10)"}, {{11, 0}, "11.0"}};
    for (const auto& [numbers, text] : cases) {
        info.workstationMajor = numbers.first;
        info.workstationMinor = numbers.second;
        EXPECT_EQ(WindowsVersionTextFromInfo(info), text);
    }
    info.workstationQueryOk = false;
    EXPECT_EQ(WindowsVersionTextFromInfo(info), "Unknown");
    info.platformId = 3;
    EXPECT_EQ(WindowsVersionTextFromInfo(info), "Unknown");
    info.platformId = 1;
    info.versionQueryOk = false;
    EXPECT_EQ(WindowsVersionTextFromInfo(info), "Unknown");
}

TEST(LinuxVersion, KernelAndPrettyName) {
    EXPECT_EQ(LinuxVersionText("Linux", "6.1.0",
                               "NAME=\"Debian\"\nPRETTY_NAME=\"Debian GNU/Linux 12 (bookworm)\"\n"),
              "Linux 6.1.0 (Debian GNU/Linux 12 (bookworm))");
    EXPECT_EQ(LinuxVersionText("Linux", "6.1.0", ""), "Linux 6.1.0");
    EXPECT_EQ(LinuxVersionText("", "", "PRETTY_NAME='Arch'\r\n"), "Arch");
    EXPECT_EQ(LinuxVersionText("", "", ""), "Unknown");
    EXPECT_FALSE(OsVersionText().empty());
    EXPECT_TRUE(Is64BitMachineName("x86_64"));
    EXPECT_TRUE(Is64BitMachineName("aarch64"));
    EXPECT_FALSE(Is64BitMachineName("i686"));
    EXPECT_FALSE(Is64BitMachineName("armv7l"));
}

TEST(TimeSeparator, FromTheLocaleTimeFormat) {
    EXPECT_EQ(TimeSeparatorFromTimeFormat("%H:%M:%S"), ":");
    EXPECT_EQ(TimeSeparatorFromTimeFormat("%H.%M.%S"), ".");
    EXPECT_EQ(TimeSeparatorFromTimeFormat("%T"), ":");
    EXPECT_EQ(TimeSeparatorFromTimeFormat("%r"), ":");
    EXPECT_EQ(TimeSeparatorFromTimeFormat("%I h %M"), " h ");
    EXPECT_EQ(TimeSeparatorFromTimeFormat("%OH.%OM"), ".");
    EXPECT_EQ(TimeSeparatorFromTimeFormat(""), ":");
    EXPECT_EQ(TimeSeparatorFromTimeFormat("%H"), ":");
    EXPECT_EQ(LocaleTimeSeparator(), ":") << "C.UTF-8 in the test environment";
}

TEST(ShellOpenTest, LocalTargetsMustExistAndAddressesPassThrough) {
    TestSandbox sandbox;
    std::vector<std::string> opened;
    ScopedShellOpener opener([&](const std::string& target) {
        opened.push_back(target);
        return true;
    });
    EXPECT_FALSE(ShellOpen((sandbox.root() / "missing.log").string()));
    EXPECT_FALSE(ShellOpen("file://" + (sandbox.root() / "missing.log").string()));
    EXPECT_FALSE(ShellOpen(""));
    EXPECT_TRUE(opened.empty());
    tintavo::test::writeFile(sandbox.root() / "a b.log", "x");
    EXPECT_TRUE(ShellOpen((sandbox.root() / "a b.log").string()));
    EXPECT_TRUE(ShellOpen("file://" + (sandbox.root() / "a%20b.log").string()));
    EXPECT_TRUE(ShellOpen("https://www.orvane.example/forum"));
    EXPECT_TRUE(ShellOpen("mailto:contact@orvane.example"));
    EXPECT_EQ(opened.size(), 4U);
    EXPECT_TRUE(IsLocalTarget("relative/file.txt"));
    EXPECT_FALSE(IsLocalTarget("HTTPS://x"));
    EXPECT_EQ(LocalPathOf("file:///a%20b"), "/a b");
    EXPECT_EQ(LocalPathOf("file://host/a"), "/a");
}
