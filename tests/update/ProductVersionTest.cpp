#include <gtest/gtest.h>

#include "PeFixture.h"
#include "common/TestSandbox.h"
#include "update/U_ZelkFct.h"

namespace tintavo {
namespace {

using test::SimpleSpec;
using test::WritePe;

struct RuleCase {
    const char* why;
    std::uint16_t fixed[4];
    const char* fileVersion;    // nullptr: key absent
    const char* productVersion; // nullptr: key absent
    const char* expected;
};

TEST(ProductVersion, ReconcilesTheFixedVersionWithTheVersionStrings) {
    test::TestSandbox sandbox;
    const RuleCase cases[] = {
        {"placeholder 1.0.0.0 gives way to the FileVersion (rule 4)",
         {1, 0, 0, 0},
         "2, 3, 0, 7",
         "",
         "2.3.0.7"},
        {"zero fixed version takes the product version (rule 2)",
         {0, 0, 0, 0},
         nullptr,
         "3.1",
         "3.1"},
        {"newer string in the same major and minor (rule 1)",
         {5, 2, 0, 0},
         "5.2.1.0",
         "",
         "5.2.1.0"},
        {"a different minor is not taken (rule 1)", {5, 2, 0, 0}, "5.3.0.0", "", "5.2.0.0"},
        {"newer product version in the same major (rule 2)",
         {2, 0, 0, 0},
         nullptr,
         "2.1.0.5",
         "2.1.0.5"},
        {"1.2.3 is not mistaken for 1.23 (rule 2)", {1, 2, 3, 0}, nullptr, "1.23", "1.2.3.0"},
        {"agreeing strings, the longer one wins (rule 3)",
         {3, 0, 0, 0},
         "4.1",
         "4.1.2 beta",
         "4.1.2"},
        {"placeholder kept, product version newer (rule 4)",
         {1, 0, 0, 0},
         "1.0.0.0",
         "1.0.0.3",
         "1.0.0.3"},
        {"placeholder without a FileVersion, product version newer (rule 4)",
         {1, 0, 0, 0},
         nullptr,
         "2.5",
         "2.5"},
        {"zero version with a newer product version (rule 5)",
         {0, 0, 0, 5},
         nullptr,
         "0.0.1",
         "0.0.1"},
        {"nothing newer: the fixed version stands", {4, 5, 6, 7}, "4.5.6.7", "4.5", "4.5.6.7"},
    };
    int n = 0;
    for (const RuleCase& c : cases) {
        SCOPED_TRACE(c.why);
        std::vector<std::pair<std::string, std::string>> strings = {{"CompanyName", "Acme"}};
        if (c.fileVersion != nullptr) {
            strings.emplace_back("FileVersion", c.fileVersion);
        }
        if (c.productVersion != nullptr) {
            strings.emplace_back("ProductVersion", c.productVersion);
        }
        const std::string path =
            WritePe(sandbox.root() / ("rule" + std::to_string(n++) + ".exe"),
                    SimpleSpec(c.fixed[0], c.fixed[1], c.fixed[2], c.fixed[3], strings));
        EXPECT_EQ(GetProductVersion(path), c.expected);
    }
}

TEST(ProductVersion, TheProgramsOwnFileReportsItsFixedVersion) {
    EXPECT_EQ(GetProductVersion(test::OwnExecutable()), "1.8.0.16");
}

TEST(ProductVersion, AnApplicationDescriptorAnswersForAFileWithoutResource) {
    test::TestSandbox sandbox;
    const auto exe = sandbox.root() / "app" / "player.exe";
    test::WriteBytes(exe, test::BuildPeImage(false, std::nullopt));
    test::writeFile(sandbox.root() / "app/META-INF/AIR/application.xml",
                    "<application>\n"
                    "  <!-- <versionNumber>0.1</versionNumber> -->\n"
                    "  <VersionNumber> 2.5.1 </VersionNumber>\n"
                    "  <name>Player</name>\n"
                    "  <copyright>Acme Media</copyright>\n"
                    "</application>\n");
    EXPECT_EQ(GetProductVersion(exe.string()), "2.5.1"); // the last line with the tag wins
    const TDisplayedFileInfo info = GetDisplayedFileInfo(exe.string());
    EXPECT_EQ(info.Product, "Player");
    EXPECT_EQ(info.Company, "Acme Media");
}

TEST(ProductVersion, TextHelpers) {
    EXPECT_EQ(NormalizeVersionText("1, 8, 0, 16"), "1.8.0.16");
    EXPECT_EQ(NormalizeVersionText("2.5 beta"), "2.5");
    EXPECT_EQ(NormalizeVersionText("v2.5"), "");
    EXPECT_EQ(NormalizeVersionText("2.0 1"), "2.01");
    EXPECT_TRUE(IsDigitsAndDots(""));
    EXPECT_TRUE(IsDigitsAndDots("1.8.0.16"));
    EXPECT_FALSE(IsDigitsAndDots("1.8 "));
    EXPECT_EQ(FileNameWithoutExt("/opt/tintavo/tintavo.bin.exe"), "tintavo.bin");
    EXPECT_EQ(FileNameWithoutExt("/opt/tintavo/tintavo"), "tintavo");
    EXPECT_EQ(FileNameWithoutExt("tool.exe"), "tool");
}

TEST(ProductVersion, SystemFolderRedirectionRule) {
    const std::string system = "C:\\Windows\\System32";
    const std::string file = "C:\\Windows\\System32\\drivers\\x.sys";
    EXPECT_EQ(RedirectSystemPath(file, true, system, '\\'),
              "C:\\Windows\\sysnative\\drivers\\x.sys");
    EXPECT_EQ(RedirectSystemPath(file, false, system, '\\'), file);
    // The beginning compares exactly; the folder name itself ignores case.
    EXPECT_EQ(RedirectSystemPath("c:\\windows\\system32\\a.dll", true, system, '\\'),
              "c:\\windows\\system32\\a.dll");
    EXPECT_EQ(RedirectSystemPath("C:\\Windows\\System32\\SYSTEM32\\a.dll", true, system, '\\'),
              "C:\\Windows\\sysnative\\SYSTEM32\\a.dll");
    EXPECT_EQ(RedirectSystemPath("D:\\Tools\\a.exe", true, system, '\\'), "D:\\Tools\\a.exe");
    // No system folder on this system: nothing is redirected.
    EXPECT_EQ(RedirectSystemPath("/usr/lib/system32/a"), "/usr/lib/system32/a");
    EXPECT_EQ(RedirectSystemPath("/x/system32/a", true, "", '/'), "/x/system32/a");
}

} // namespace
} // namespace tintavo
