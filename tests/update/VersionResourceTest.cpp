#include <gtest/gtest.h>

#include "PeFixture.h"
#include "common/TestConfig.h"
#include "common/TestSandbox.h"
#include "platform/ProgramPath.h"
#include "update/U_ZelkFct.h"
#include "update/VersionResource.h"

#include <array>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

namespace tintavo {
namespace {

using test::OwnExecutable;
using test::SimpleSpec;
using test::WritePe;

TEST(VersionResource, TheRunningProgramReadsItsOwnDeclaredVersion) {
    const std::string self = OwnExecutable();
    EXPECT_EQ(GetFileVersionText(self), "1.8.0.16");

    const FileVersionInfoRec rec = ReadFileVersionInfo(self);
    EXPECT_EQ(rec.FileDescription, "Tintavo");
    EXPECT_EQ(rec.CompanyName, "Orvane");
    EXPECT_EQ(rec.FileVersion, "1.8.0.16");
    EXPECT_EQ(rec.ProductVersion, "1.0.0.0");
    EXPECT_EQ(rec.ProductName, "");
    EXPECT_EQ(rec.InternalName, "");
    EXPECT_EQ(rec.LegalCopyright, "");
    EXPECT_EQ(rec.OriginalFilename, "");

    const auto info = ReadVersionInfo(self);
    ASSERT_TRUE(info);
    EXPECT_EQ(info->FirstStringTable(), "040C04E4");
    ASSERT_EQ(info->Translations().size(), 1u);
    EXPECT_EQ(info->Translations()[0], std::make_pair(std::uint16_t{0x040C}, std::uint16_t{1252}));
    ASSERT_TRUE(info->FixedInfo());
    EXPECT_EQ(info->FixedInfo()->ProductVersionMS, 0x00010008u);
    EXPECT_EQ(info->FixedInfo()->ProductVersionLS, 16u);
    EXPECT_FALSE(Is64BitImage(self)); // an ELF file is no Windows image
}

// A package upgrade replaces the program file while it runs: the path the system reports then
// ends in " (deleted)". A copy of this test program, started as a child, removes its own file
// and reads its version as the window's caption and the update check do.
TEST(VersionResource, TheRunningProgramReadsItsVersionAfterItsFileWasReplaced) {
    if (std::getenv("TINTAVO_REMOVE_OWN_FILE") != nullptr) {
        ASSERT_EQ(::unlink(platform::ProgramFilePath().c_str()), 0);
        const std::string self = platform::ProgramFilePath();
        std::printf("\nreported|%s|%s|%s|%s\n", self.c_str(), GetFileVersionText(self).c_str(),
                    GetProductVersion(self).c_str(), GetDisplayedFileInfo(self).Company.c_str());
        return;
    }
    test::TestSandbox sandbox;
    const auto copy = sandbox.root() / "tintavo";
    std::filesystem::copy_file(OwnExecutable(), copy);
    const std::string command = "TINTAVO_REMOVE_OWN_FILE=1 '" + copy.string() +
                                "' --gtest_filter=VersionResource."
                                "TheRunningProgramReadsItsVersionAfterItsFileWasReplaced 2>&1";
    const std::unique_ptr<FILE, int (*)(FILE*)> child(::popen(command.c_str(), "r"), ::pclose);
    ASSERT_TRUE(child);
    std::string output;
    std::array<char, 4096> buffer{};
    while (std::fgets(buffer.data(), static_cast<int>(buffer.size()), child.get()) != nullptr) {
        output += buffer.data();
    }
    EXPECT_NE(output.find("\nreported|" + copy.string() + " (deleted)|1.8.0.16|1.8.0.16|Orvane\n"),
              std::string::npos)
        << output;
    EXPECT_FALSE(std::filesystem::exists(copy));
}

TEST(VersionResource, ReadsOnlyRegularFilesAndNeverWaitsOnAFifo) {
    test::TestSandbox sandbox;
    const auto fifo = sandbox.root() / "program.exe";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    // Opening a FIFO for reading waits for a writer that never comes, unless it does not wait.
    EXPECT_EQ(GetFileVersionText(fifo), "");
    EXPECT_EQ(GetProductVersion(fifo.string()), "");
    EXPECT_FALSE(ReadVersionBlock(fifo));
    EXPECT_FALSE(Is64BitImage(fifo.string()));
    EXPECT_EQ(GetDisplayedFileInfo(fifo.string()).Company, "");
}

TEST(VersionResource, TheBuiltProgramCarriesTheSameResource) {
    const std::string program = std::string(TINTAVO_BINARY_DIR) + "/program/tintavo";
    if (!std::filesystem::exists(program)) {
        GTEST_SKIP() << "the window program is not built";
    }
    EXPECT_EQ(GetFileVersionText(program), "1.8.0.16");
    EXPECT_EQ(GetProductVersion(program), "1.8.0.16");
    const TDisplayedFileInfo info = GetDisplayedFileInfo(program);
    EXPECT_EQ(info.Product, "Tintavo");
    EXPECT_EQ(info.Company, "Orvane");
}

TEST(VersionResource, ReadsBothWindowsImageKinds) {
    test::TestSandbox sandbox;
    for (const bool is64 : {false, true}) {
        SCOPED_TRACE(is64 ? "PE32+" : "PE32");
        const std::string path = WritePe(sandbox.root() / (is64 ? "w64.exe" : "w32.exe"),
                                         SimpleSpec(2, 10, 300, 65535,
                                                    {{"FileDescription", "Outil \xC3\xA9t\xC3\xA9"},
                                                     {"FileVersion", "2, 10, 300, 65535"}}),
                                         is64);
        EXPECT_EQ(GetFileVersionText(path), "2.10.300.65535");
        const FileVersionInfoRec rec = ReadFileVersionInfo(path);
        EXPECT_EQ(rec.FileDescription, "Outil \xC3\xA9t\xC3\xA9"); // UTF-16 read back as UTF-8
        EXPECT_EQ(rec.FileVersion, "2.10.300.65535");              // ", " became "."
        EXPECT_EQ(Is64BitImage(path), is64);
    }
}

TEST(VersionResource, MissingFilesFoldersAndFilesWithoutResource) {
    test::TestSandbox sandbox;
    EXPECT_EQ(GetFileVersionText(sandbox.root() / "nothing.exe"), "File not found");
    EXPECT_EQ(GetFileVersionText(sandbox.root()), "File not found");
    EXPECT_EQ(GetProductVersion((sandbox.root() / "nothing.exe").string()), "File not found");

    const auto bare = sandbox.root() / "bare.exe";
    test::WriteBytes(bare, test::BuildPeImage(false, std::nullopt));
    EXPECT_EQ(GetFileVersionText(bare), "");
    EXPECT_EQ(GetProductVersion(bare.string()), "");
    const FileVersionInfoRec rec = ReadFileVersionInfo(bare.string());
    EXPECT_EQ(rec.FileDescription + rec.CompanyName + rec.FileVersion + rec.ProductVersion, "");

    test::writeFile(sandbox.root() / "notes.txt", "not an executable");
    EXPECT_EQ(GetFileVersionText(sandbox.root() / "notes.txt"), "");

    versioninfo::TVersionInfoSpec noFixed = SimpleSpec(1, 2, 3, 4, {{"FileVersion", "1.2.3.4"}});
    noFixed.HasFixedInfo = false;
    const std::string path = WritePe(sandbox.root() / "nofixed.exe", noFixed);
    EXPECT_EQ(GetFileVersionText(path), "");
    EXPECT_EQ(ReadFileVersionInfo(path).FileVersion, "1.2.3.4");
}

TEST(VersionResource, FallsBackToTheTableNamedByTheTranslation) {
    test::TestSandbox sandbox;
    versioninfo::TVersionInfoSpec declared;
    declared.FileVersionMS = versioninfo::PackWords(3, 0);
    // The first table has none of the three main keys; the translation names the second.
    declared.Tables.push_back({"040904B0", {{"ProductName", "Ignored"}}});
    declared.Tables.push_back({"040C04E4",
                               {{"FileDescription", "Second"},
                                {"CompanyName", "Acme"},
                                {"legalcopyright", "(c) Acme"},
                                {"OriginalFilename", "second.exe"}}});
    declared.Translations.emplace_back(0x040C, 0x04E4);
    const std::string path = WritePe(sandbox.root() / "fallback.exe", declared);
    const FileVersionInfoRec rec = ReadFileVersionInfo(path);
    EXPECT_EQ(rec.FileDescription, "Second");
    EXPECT_EQ(rec.CompanyName, "Acme");
    EXPECT_EQ(rec.LegalCopyright, "(c) Acme"); // keys compare without regard to case
    EXPECT_EQ(rec.OriginalFilename, "second.exe");
    EXPECT_EQ(rec.ProductName, ""); // the fallback overwrites every field

    declared.Translations.clear(); // without translation the bare key names nothing
    const std::string untranslated = WritePe(sandbox.root() / "untranslated.exe", declared);
    EXPECT_EQ(ReadFileVersionInfo(untranslated).FileDescription, "");
}

// Damaged files must read as files without resource, never past a buffer.
TEST(VersionResource, DamagedImagesReadAsWithoutResource) {
    test::TestSandbox sandbox;
    const std::vector<std::uint8_t> image = test::BuildPeImage(
        true, versioninfo::BuildVersionInfo(SimpleSpec(1, 2, 3, 4, {{"CompanyName", "Acme"}})));
    const auto path = sandbox.root() / "damaged.exe";
    for (std::size_t length = 0; length < image.size(); length += 11) {
        test::WriteBytes(path, std::vector<std::uint8_t>(
                                   image.begin(), image.begin() + static_cast<long>(length)));
        const std::string text = GetFileVersionText(path);
        EXPECT_TRUE(text.empty() || text == "1.2.3.4") << "cut at " << length;
        static_cast<void>(GetDisplayedFileInfo(path.string()));
    }
    // Every byte of the headers and the resource tree set to 0xFF in turn.
    for (std::size_t at = 0; at < 0x260; at = at == 0x1A0 ? 0x200 : at + 1) {
        std::vector<std::uint8_t> bad = image;
        bad[at] = 0xFF;
        test::WriteBytes(path, bad);
        static_cast<void>(GetFileVersionText(path));
        static_cast<void>(ReadFileVersionInfo(path.string()));
    }
}

TEST(VersionResource, ReadsTheSectionOfEveryElfKind) {
    test::TestSandbox sandbox;
    const auto block =
        versioninfo::BuildVersionInfo(SimpleSpec(1, 2, 3, 4, {{"CompanyName", "Acme"}}));
    const auto path = sandbox.root() / "program";
    for (const bool is64 : {false, true}) {
        for (const bool big : {false, true}) {
            for (const bool extended : {false, true}) {
                SCOPED_TRACE(std::string(is64 ? "64" : "32") + (big ? " big" : " little") +
                             (extended ? " extended count" : ""));
                test::WriteBytes(
                    path, test::BuildElfImage(is64, big, block, ".tintavo_version", extended));
                EXPECT_EQ(GetFileVersionText(path), "1.2.3.4");
                EXPECT_EQ(GetCompanyName(path.string()), "Acme");
            }
        }
    }
    test::WriteBytes(path, test::BuildElfImage(true, false, std::nullopt));
    EXPECT_EQ(GetFileVersionText(path), "");
    test::WriteBytes(path, test::BuildElfImage(true, false, block, ".other"));
    EXPECT_EQ(GetFileVersionText(path), "");
}

TEST(VersionResource, DamagedElfFilesReadAsWithoutResource) {
    test::TestSandbox sandbox;
    const auto image = test::BuildElfImage(
        true, false,
        versioninfo::BuildVersionInfo(SimpleSpec(1, 2, 3, 4, {{"CompanyName", "Acme"}})));
    const auto path = sandbox.root() / "program";
    for (std::size_t length = 0; length < image.size(); length += 13) {
        test::WriteBytes(path, std::vector<std::uint8_t>(
                                   image.begin(), image.begin() + static_cast<long>(length)));
        const std::string text = GetFileVersionText(path);
        EXPECT_TRUE(text.empty() || text == "1.2.3.4") << "cut at " << length;
    }
    // Header fields and section headers set to all ones, one byte at a time.
    const std::size_t headers = image.size() - 3 * 64;
    for (std::size_t at = 0; at < image.size(); at = (at == 63 ? headers : at + 1)) {
        std::vector<std::uint8_t> bad = image;
        bad[at] = 0xFF;
        test::WriteBytes(path, bad);
        static_cast<void>(GetFileVersionText(path));
    }
}

TEST(VersionResource, AnElfFileClaimingTooManySectionsReadsAsWithoutResource) {
    test::TestSandbox sandbox;
    auto image =
        test::BuildElfImage(true, false, versioninfo::BuildVersionInfo(SimpleSpec(1, 2, 3, 4, {})),
                            ".tintavo_version", true);
    const std::size_t countAt = image.size() - 3 * 64 + 32; // section 0 holds the real count
    const auto path = sandbox.root() / "program";
    for (const std::uint64_t count : {0xFFFFu, 0x10000u}) {
        for (std::size_t i = 0; i < 8; ++i) {
            image[countAt + i] = static_cast<std::uint8_t>(count >> (8 * i));
        }
        test::WriteBytes(path, image);
        // Long enough for every section claimed; the sections beyond the real ones are zeros.
        std::filesystem::resize_file(path, image.size() + count * 64);
        EXPECT_EQ(GetFileVersionText(path), count == 0xFFFF ? "1.2.3.4" : "") << count;
    }
}

TEST(VersionResource, BlockParserRejectsInconsistentLengths) {
    std::vector<std::uint8_t> block =
        versioninfo::BuildVersionInfo(SimpleSpec(1, 2, 3, 4, {{"FileVersion", "1.2.3.4"}}));
    ASSERT_TRUE(TVersionInfoBlock::Parse(block));

    std::vector<std::uint8_t> tooLong = block;
    tooLong[0] = 0xFF; // root longer than the bytes at hand
    tooLong[1] = 0xFF;
    EXPECT_FALSE(TVersionInfoBlock::Parse(tooLong));

    std::vector<std::uint8_t> wrongKey = block;
    wrongKey[6] = 'X';
    EXPECT_FALSE(TVersionInfoBlock::Parse(wrongKey));

    // A child claiming more than its parent holds ends the children there.
    std::vector<std::uint8_t> badChild = block;
    const std::size_t child = 0x5C; // after the root's key and fixed information
    badChild[child] = 0xF0;
    badChild[child + 1] = 0xFF;
    const auto parsed = TVersionInfoBlock::Parse(badChild);
    ASSERT_TRUE(parsed);
    EXPECT_FALSE(parsed->QueryString("\\StringFileInfo\\040C04E4\\FileVersion"));
    EXPECT_TRUE(parsed->FixedInfo());
}

} // namespace
} // namespace tintavo
