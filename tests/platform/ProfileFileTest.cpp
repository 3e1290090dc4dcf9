#include <gtest/gtest.h>

#include "common/TestSandbox.h"
#include "platform/ProfileFile.h"

#include <filesystem>

namespace fs = std::filesystem;
using namespace tintavo::platform;
using tintavo::test::readFile;
using tintavo::test::TestSandbox;
using tintavo::test::writeFile;

TEST(ProfileRead, NamesAndValuesOfOneSection) {
    TestSandbox sandbox;
    const std::string file = (sandbox.root() / "settings.ini").string();
    EXPECT_TRUE(ProfileSectionNames(file, "Settings", 16384).empty());
    EXPECT_EQ(ProfileString(file, "Settings", "a", "dflt", 2048), "dflt");
    writeFile(file, "[Other]\r\nx=1\r\n[ settings ]\r\n a = 1 \r\n; note=no\r\nb=\"two\"\r\n"
                    "loose line\r\nA=again\r\n=nameless\r\n[Later]\r\nc=3\r\n");
    EXPECT_EQ(ProfileSectionNames(file, "Settings", 16384),
              (std::vector<std::string>{"a", "b", "A"}));
    EXPECT_EQ(ProfileString(file, "SETTINGS", "A", "", 2048), "1") << "the first line wins";
    EXPECT_EQ(ProfileString(file, "Settings", "b", "", 2048), "two");
    EXPECT_EQ(ProfileString(file, "Settings", "c", "none", 2048), "none");
    EXPECT_TRUE(ProfileSectionNames(file, "Missing", 16384).empty());
}

TEST(ProfileRead, BufferLimitsCutNamesAndValues) {
    TestSandbox sandbox;
    const std::string file = (sandbox.root() / "settings.ini").string();
    writeFile(file, "[S]\nabc=" + std::string(3000, 'v') + "\nde=é\nfgh=1\n");
    EXPECT_EQ(ProfileString(file, "S", "abc", "", 2048).size(), 2047U);
    EXPECT_EQ(ProfileString(file, "S", "de", "", 2), "") << "never half a character";
    // "abc\0de\0" fills 7 bytes; with a final NUL an 8-byte buffer holds exactly two names.
    EXPECT_EQ(ProfileSectionNames(file, "S", 8), (std::vector<std::string>{"abc", "de"}));
    EXPECT_EQ(ProfileSectionNames(file, "S", 10), (std::vector<std::string>{"abc", "de", "f"}));
    EXPECT_EQ(ProfileSectionNames(file, "S", 12), (std::vector<std::string>{"abc", "de", "fgh"}));
}

TEST(ProfileWrite, ReplacesAppendsAndKeepsTheRest) {
    TestSandbox sandbox;
    const std::string file = (sandbox.root() / "settings.ini").string();
    ASSERT_TRUE(WriteProfileString(file, "Settings", "a", "1"));
    EXPECT_EQ(readFile(file), "[Settings]\na=1\n");
    writeFile(file, "; top\r\n[Settings]\r\nA=old\r\nkeep=me\r\n\r\n[Other]\r\nx=1\r\n");
    ASSERT_TRUE(WriteProfileString(file, "settings", "a", "new"));
    ASSERT_TRUE(WriteProfileString(file, "Settings", "b", "two\nlines"));
    ASSERT_TRUE(WriteProfileString(file, "Third", "c", ""));
    EXPECT_EQ(readFile(file), "; top\r\n[Settings]\r\na=new\r\nkeep=me\r\nb=two lines\r\n\r\n"
                              "[Other]\r\nx=1\r\n[Third]\r\nc=\r\n");
}

TEST(ProfileWrite, AByteOrderMarkIsReadPastAndKept) {
    TestSandbox sandbox;
    const std::string file = (sandbox.root() / "settings.ini").string();
    writeFile(file, "\xEF\xBB\xBF[Settings]\na=1\n");
    EXPECT_EQ(ProfileSectionNames(file, "Settings", 16384), (std::vector<std::string>{"a"}));
    ASSERT_TRUE(WriteProfileString(file, "Settings", "b", "2"));
    EXPECT_EQ(readFile(file), "\xEF\xBB\xBF[Settings]\na=1\nb=2\n");
}

TEST(ProfileWrite, FailsWithoutLeavingAnything) {
    TestSandbox sandbox;
    EXPECT_FALSE(
        WriteProfileString((sandbox.root() / "missing/settings.ini").string(), "S", "a", "1"));
    fs::create_directory(sandbox.root() / "settings.ini");
    EXPECT_FALSE(WriteProfileString((sandbox.root() / "settings.ini").string(), "S", "a", "1"));
    EXPECT_EQ(std::distance(fs::directory_iterator(sandbox.root()), fs::directory_iterator()), 2)
        << "no temporary file is left behind";
}

TEST(ProfileWrite, ALinkedFileStaysALinkAndKeepsItsMode) {
    TestSandbox sandbox;
    const fs::path real = sandbox.root() / "shared/settings.ini";
    writeFile(real, "[Settings]\na=0\n");
    fs::permissions(real, fs::perms::owner_read | fs::perms::owner_write | fs::perms::others_read,
                    fs::perm_options::replace);
    fs::create_directory(sandbox.root() / "prog");
    const fs::path link = sandbox.root() / "prog/settings.ini";
    fs::create_symlink(real, link);
    ASSERT_TRUE(WriteProfileString(link.string(), "Settings", "a", "1"));
    EXPECT_TRUE(fs::is_symlink(link));
    EXPECT_EQ(readFile(real), "[Settings]\na=1\n");
    EXPECT_EQ(fs::status(real).permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write | fs::perms::others_read);
}
