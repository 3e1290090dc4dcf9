#include <gtest/gtest.h>

#include "common/TestSandbox.h"
#include "platform/Registry.h"
#include "services/U_TovikUtils.h"

#include <csignal>
#include <filesystem>
#include <sys/resource.h>

namespace fs = std::filesystem;
using namespace tintavo;
using platform::RegReadValue;
using platform::RegReadValues;
using platform::RegRoot;
using platform::RegValue;
using tintavo::test::readFile;
using tintavo::test::TestSandbox;
using tintavo::test::writeFile;

namespace {

// Makes every file write of this process beyond a few bytes fail, as a full or
// write-protected disk would, also for root; lifted again at the end of the scope.
class WriteLimit {
public:
    explicit WriteLimit(rlim_t bytes) {
        getrlimit(RLIMIT_FSIZE, &saved_);
        previousHandler_ = std::signal(SIGXFSZ, SIG_IGN);
        rlimit limit = saved_;
        limit.rlim_cur = bytes;
        setrlimit(RLIMIT_FSIZE, &limit);
    }
    ~WriteLimit() {
        setrlimit(RLIMIT_FSIZE, &saved_);
        std::signal(SIGXFSZ, previousHandler_);
    }
    WriteLimit(const WriteLimit&) = delete;
    WriteLimit& operator=(const WriteLimit&) = delete;

private:
    rlimit saved_{};
    void (*previousHandler_)(int) = nullptr;
};

std::string StringValue(const std::string& key, const std::string& name) {
    const auto value = RegReadValue(RegRoot::CurrentUser, key, name);
    return value && value->type == platform::REG_SZ ? value->data : "<missing>";
}

} // namespace

TEST(SettingsStore, KeyPaths) {
    EXPECT_EQ(CompanyKeyPath(), "SOFTWARE\\Orvane");
    EXPECT_EQ(ProductKeyPath("Tintavo"), "SOFTWARE\\Orvane\\Tintavo");
}

TEST(SettingsStore, PortableRunWithoutSettingsFileLeavesNoTrace) {
    TestSandbox sandbox;
    const std::string ini = (sandbox.root() / "prog/settings.ini").string();
    fs::create_directories(sandbox.root() / "prog");
    ImportSettings("Tintavo", ini);
    ASSERT_TRUE(platform::RegKeyExists(RegRoot::CurrentUser, ProductKeyPath("Tintavo")));
    EXPECT_TRUE(RegReadValues(RegRoot::CurrentUser, ProductKeyPath("Tintavo"))->empty());
    RecordProgramPath("Tintavo", "/opt/prog/tintavo");
    EXPECT_EQ(StringValue(CompanyKeyPath(), "Tintavo"), "/opt/prog/tintavo");

    ExportSettings("Tintavo", ini);
    EXPECT_FALSE(fs::exists(ini)) << "no string values, no file";
    DeleteProductKey("Tintavo");
    DeleteProgramPath("Tintavo");
    DeleteCompanyKeyIfEmpty();
    EXPECT_FALSE(fs::exists(sandbox.configHome() / "Orvane"));
}

TEST(SettingsStore, ImportCopiesTheSectionAsStrings) {
    TestSandbox sandbox;
    const fs::path ini = sandbox.root() / "settings.ini";
    writeFile(ini, "[Other]\nz=9\n[Settings]\na=1\nb=two\nlong=" + std::string(3000, 'x') +
                       "\nWebSite=http://127.0.0.1:8080\n");
    ImportSettings("Tintavo", ini.string());
    const auto values = RegReadValues(RegRoot::CurrentUser, ProductKeyPath("Tintavo"));
    ASSERT_TRUE(values);
    ASSERT_EQ(values->size(), 4U);
    EXPECT_EQ((*values)[0], RegValue::String("a", "1"));
    EXPECT_EQ((*values)[1], RegValue::String("b", "two"));
    EXPECT_EQ((*values)[2].data.size(), 2047U) << "a value keeps at most 2047 characters";
    EXPECT_EQ((*values)[3], RegValue::String("WebSite", "http://127.0.0.1:8080"));
}

TEST(SettingsStore, ImportReadsNamesThroughTheSixteenKilobyteBuffer) {
    TestSandbox sandbox;
    const fs::path ini = sandbox.root() / "settings.ini";
    // 2000 names of 9 bytes with their NULs: 18000 bytes, more than the buffer holds.
    std::string text = "[Settings]\n";
    for (int i = 0; i < 2000; ++i) {
        char name[16];
        std::snprintf(name, sizeof name, "name%04d", i);
        text += std::string(name) + "=" + std::to_string(i) + "\n";
    }
    writeFile(ini, text);
    ImportSettings("Tintavo", ini.string());
    const auto values = RegReadValues(RegRoot::CurrentUser, ProductKeyPath("Tintavo"));
    ASSERT_TRUE(values);
    // The platform hands 16382 bytes: 1820 whole names and 2 bytes of the next one.
    ASSERT_EQ(values->size(), 1821U);
    EXPECT_EQ(values->at(1819), RegValue::String("name1819", "1819"));
    EXPECT_EQ(values->back(), RegValue::String("na", "")) << "the cut name has no value";
}

TEST(SettingsStore, ExportWritesPlainStringsOnlyAndKeepsOtherLines) {
    TestSandbox sandbox;
    const fs::path ini = sandbox.root() / "settings.ini";
    writeFile(ini, "[Settings]\r\ngone=still here\r\na=old\r\n");
    const std::string key = ProductKeyPath("Tintavo");
    ASSERT_TRUE(platform::RegCreateKey(key));
    ASSERT_TRUE(platform::RegSetValue(key, RegValue::String("a", "new")));
    ASSERT_TRUE(platform::RegSetValue(key, RegValue::DWord("n", 5)));
    ASSERT_TRUE(platform::RegSetValue(key, RegValue::ExpandString("e", "%HOME%")));
    ASSERT_TRUE(platform::RegSetValue(key, RegValue::Binary("b", "xy")));
    ASSERT_TRUE(platform::RegSetValue(key, RegValue::String("s", "text")));
    ExportSettings("Tintavo", ini.string());
    EXPECT_EQ(readFile(ini), "[Settings]\r\ngone=still here\r\na=new\r\ns=text\r\n");

    // And back: a portable copy finds the same strings at its next start.
    DeleteProductKey("Tintavo");
    EXPECT_FALSE(platform::RegKeyExists(RegRoot::CurrentUser, key));
    ImportSettings("Tintavo", ini.string());
    EXPECT_EQ(StringValue(key, "a"), "new");
    EXPECT_EQ(StringValue(key, "gone"), "still here");
    EXPECT_EQ(StringValue(key, "n"), "<missing>");
}

TEST(SettingsStore, ExportFailureRaisesTheFrenchWriteError) {
    TestSandbox sandbox;
    const std::string key = ProductKeyPath("Tintavo");
    ASSERT_TRUE(platform::RegCreateKey(key));
    ASSERT_TRUE(platform::RegSetValue(key, RegValue::String("a", "1")));
    const fs::path blocked = sandbox.root() / "settings.ini";
    fs::create_directory(blocked);
    try {
        ExportSettings("Tintavo", blocked.string());
        FAIL() << "expected an error";
    } catch (const SettingsFileError& error) {
        EXPECT_EQ(std::string(error.what()), "Impossible d'écrire dans " + blocked.string());
    }

    // A write-protected settings file is neither replaced nor changed, whoever runs the export.
    const fs::path frozen = sandbox.root() / "frozen.ini";
    writeFile(frozen, "[Settings]\na=0\n");
    fs::permissions(frozen, fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
    EXPECT_THROW(ExportSettings("Tintavo", frozen.string()), SettingsFileError);
    EXPECT_EQ(readFile(frozen), "[Settings]\na=0\n");
}

TEST(SettingsStore, FailedRegistryWritesRaiseTheFrenchSetError) {
    TestSandbox sandbox;
    const fs::path ini = sandbox.root() / "settings.ini";
    writeFile(ini, "[Settings]\nfirst=1\n");
    // The keys exist, so they open; only the writes fail.
    ASSERT_TRUE(platform::RegCreateKey(ProductKeyPath("Tintavo")));
    const auto hiveSize = fs::file_size(platform::UserHivePath());
    {
        WriteLimit limit(hiveSize);
        try {
            ImportSettings("Tintavo", ini.string());
            FAIL() << "expected an error";
        } catch (const RegistryError& error) {
            EXPECT_EQ(std::string(error.what()), "Echec à la définition des données pour 'first'");
        }
        try {
            RecordProgramPath("Tintavo", "/opt/prog/tintavo");
            FAIL() << "expected an error";
        } catch (const RegistryError& error) {
            EXPECT_EQ(std::string(error.what()),
                      "Echec à la définition des données pour 'Tintavo'");
        }
    }
    EXPECT_EQ(platform::ReadHive(RegRoot::CurrentUser).Keys().size(), 3U)
        << "the hive is whole after the failed writes";
    EXPECT_EQ(std::distance(fs::directory_iterator(sandbox.configHome() / "Orvane"),
                            fs::directory_iterator()),
              2)
        << "the hive and its lock file; no temporary file left behind";

    // A company key that can be neither opened nor created: nothing happens, nothing is said.
    TestSandbox other;
    writeFile(other.configHome(), "a file where the folder should be");
    EXPECT_NO_THROW(RecordProgramPath("Tintavo", "/opt/prog/tintavo"));
    EXPECT_NO_THROW(ImportSettings("Tintavo", ini.string()));
}

TEST(SettingsStore, CompanyKeyStaysWhileAnotherProductUsesIt) {
    TestSandbox sandbox;
    RecordProgramPath("Other", "/opt/other/other");
    RecordProgramPath("Tintavo", "/opt/prog/tintavo");
    ImportSettings("Tintavo", (sandbox.root() / "none.ini").string());
    DeleteProductKey("Tintavo");
    DeleteProgramPath("Tintavo");
    DeleteCompanyKeyIfEmpty();
    EXPECT_EQ(StringValue(CompanyKeyPath(), "Other"), "/opt/other/other");
    EXPECT_EQ(StringValue(CompanyKeyPath(), "Tintavo"), "<missing>");

    // Another product key alone keeps it too.
    DeleteProgramPath("Other");
    ASSERT_TRUE(platform::RegCreateKey(ProductKeyPath("Other")));
    DeleteCompanyKeyIfEmpty();
    EXPECT_TRUE(platform::RegKeyExists(RegRoot::CurrentUser, ProductKeyPath("Other")));
    DeleteProductKey("Other");
    DeleteCompanyKeyIfEmpty();
    EXPECT_FALSE(fs::exists(platform::UserHivePath()));
}
