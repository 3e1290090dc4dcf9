#include <gtest/gtest.h>

#include "common/TestConfig.h"
#include "common/TestSandbox.h"
#include "platform/ProgramPath.h"
#include "services/U_TovikUtils.h"

#include <cstdlib>
#include <filesystem>

namespace fs = std::filesystem;

// Installs the build into a temporary prefix and checks that the installed-programs list
// finds the program there by its desktop entry, and only there.
TEST(Install, InstalledTestFindsTheInstalledDesktopEntry) {
    tintavo::test::TestSandbox sandbox;
    const fs::path prefix = sandbox.root() / "prefix";
    const std::string command = std::string("\"") + TINTAVO_CMAKE_COMMAND + "\" --install \"" +
                                TINTAVO_BINARY_DIR + "\" --prefix \"" + prefix.string() + "\" >\"" +
                                (sandbox.root() / "install.log").string() + "\" 2>&1";
    ASSERT_EQ(std::system(command.c_str()), 0)
        << tintavo::test::readFile(sandbox.root() / "install.log");
    EXPECT_TRUE(fs::exists(prefix / "bin/tintavo"));
    EXPECT_TRUE(fs::exists(prefix / "bin/tintavo-cli"));
    const fs::path entry = prefix / "share/applications/orvane-tintavo.desktop";
    ASSERT_TRUE(fs::exists(entry));
    const std::string text = tintavo::test::readFile(entry);
    EXPECT_NE(text.find("\nName=Orvane Tintavo\n"), std::string::npos) << text;
    EXPECT_NE(text.find("\nTryExec=" + (prefix / "bin/tintavo").string() + "\n"), std::string::npos)
        << text;
    EXPECT_TRUE(fs::exists(prefix / "share/icons/hicolor/scalable/apps/orvane-tintavo.svg"));
    EXPECT_TRUE(fs::exists(prefix / "share/icons/hicolor/256x256/apps/orvane-tintavo.png"));
    EXPECT_TRUE(fs::exists(prefix / "share/metainfo/example.orvane.Tintavo.metainfo.xml"));
    EXPECT_TRUE(fs::exists(prefix / "share/man/man1/tintavo.1"));

    // Run as the installed program file.
    tintavo::platform::ScopedProgramPathOverride installed((prefix / "bin/tintavo").string());
    EXPECT_FALSE(tintavo::IsInstalled(tintavo::ProductName));
    sandbox.setEnv("XDG_DATA_DIRS",
                   (sandbox.root() / "elsewhere").string() + ":" + (prefix / "share").string());
    EXPECT_TRUE(tintavo::IsInstalled(tintavo::ProductName));
    {
        // Another copy of the program finds the entry but is not the installed one.
        tintavo::platform::ScopedProgramPathOverride other((sandbox.root() / "tintavo").string());
        EXPECT_FALSE(tintavo::IsInstalled(tintavo::ProductName));
    }
    sandbox.setEnv("XDG_DATA_DIRS", (sandbox.root() / "elsewhere").string());
    EXPECT_FALSE(tintavo::IsInstalled(tintavo::ProductName));
}
