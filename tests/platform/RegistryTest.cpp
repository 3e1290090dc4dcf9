#include <gtest/gtest.h>

#include "common/TestSandbox.h"
#include "platform/PosixIo.h"
#include "platform/Registry.h"
#include "platform/RegistryHive.h"

#include <chrono>
#include <filesystem>
#include <random>
#include <thread>

#include <fcntl.h>
#include <sys/file.h>

namespace fs = std::filesystem;
using namespace tintavo::platform;
using tintavo::test::readFile;
using tintavo::test::TestSandbox;
using tintavo::test::writeFile;

namespace {
constexpr const char* kUser = "HKEY_CURRENT_USER";
}

TEST(RegHiveFormat, RoundTripKeepsEveryType) {
    RegHive hive;
    hive.CreateKey("SOFTWARE\\Orvane\\Tintavo");
    hive.SetValue("SOFTWARE\\Orvane", RegValue::String("Tintavo", "C:\\path \"quoted\" é"));
    hive.SetValue("SOFTWARE\\Orvane\\Tintavo", RegValue::String("", "default"));
    hive.SetValue("SOFTWARE\\Orvane\\Tintavo", RegValue::DWord("n", 0xDEADBEEF));
    hive.SetValue("SOFTWARE\\Orvane\\Tintavo", RegValue::ExpandString("e", "%TEMP%\\x €𝄞"));
    hive.SetValue("SOFTWARE\\Orvane\\Tintavo", RegValue::Binary("b", std::string("\0\x01\xff", 3)));
    hive.SetValue("SOFTWARE\\Orvane\\Tintavo", RegValue::String("multi", "line\r\nbreak"));
    hive.SetValue("SOFTWARE\\Orvane\\Tintavo", RegValue::String("bad utf8", "a\xff\xc3"));
    hive.SetValue("SOFTWARE\\Orvane\\Tintavo", RegValue{"q", 11, std::string(8, '\x07')});
    const std::string text = hive.Serialize(kUser);
    EXPECT_EQ(text.rfind("Windows Registry Editor Version 5.00\n\n", 0), 0U);
    EXPECT_NE(text.find("[HKEY_CURRENT_USER\\SOFTWARE\\Orvane]\n"
                        "\"Tintavo\"=\"C:\\\\path \\\"quoted\\\" é\"\n"),
              std::string::npos)
        << text;
    EXPECT_NE(text.find("\"n\"=dword:deadbeef\n"), std::string::npos);
    EXPECT_NE(text.find("\"b\"=hex:00,01,ff\n"), std::string::npos);
    EXPECT_NE(text.find("@=\"default\"\n"), std::string::npos);
    EXPECT_NE(text.find("\"e\"=hex(2):25,00,54,00"), std::string::npos);
    // Parents come before children.
    EXPECT_LT(text.find("[HKEY_CURRENT_USER\\SOFTWARE]"),
              text.find("[HKEY_CURRENT_USER\\SOFTWARE\\Orvane]"));

    const auto parsed = RegHive::Parse(text, kUser);
    ASSERT_TRUE(parsed);
    for (const char* path : {"SOFTWARE\\Orvane", "SOFTWARE\\Orvane\\Tintavo"}) {
        ASSERT_NE(parsed->FindKey(path), nullptr);
        EXPECT_EQ(parsed->FindKey(path)->values, hive.FindKey(path)->values) << path;
    }
    EXPECT_EQ(parsed->Serialize(kUser), text);
}

TEST(RegHiveFormat, ReadsRegeditStyleFiles) {
    const std::string text = "\xEF\xBB\xBFWindows Registry Editor Version 5.00\r\n\r\n"
                             "; a comment\r\n"
                             "[HKEY_CURRENT_USER\\Software\\Orvane\\Tintavo]\r\n"
                             "\"Long\"=hex(2):41,00,\\\r\n  42,00,00,00\r\n"
                             "\"N\" = dword:0000002a\r\n"
                             "\"E\"=hex:\r\n";
    const auto hive = RegHive::Parse(text, kUser);
    ASSERT_TRUE(hive);
    const RegKey* key = hive->FindKey("SOFTWARE\\ORVANE\\tintavo\\");
    ASSERT_NE(key, nullptr);
    ASSERT_EQ(key->values.size(), 3U);
    EXPECT_EQ(key->values[0], RegValue::ExpandString("Long", "AB"));
    EXPECT_EQ(key->values[1].AsDWord(), 42U);
    EXPECT_EQ(key->values[2], RegValue::Binary("E", ""));
    EXPECT_TRUE(hive->KeyExists("Software"));
    EXPECT_EQ(hive->SubkeyNames("software\\orvane"), std::vector<std::string>{"Tintavo"});
}

TEST(RegHiveFormat, RejectsWhatDoesNotParse) {
    const std::string header = "Windows Registry Editor Version 5.00\n";
    for (const std::string& bad :
         {std::string("REGEDIT4\n"), header + "\"v\"=\"before any key\"\n",
          header + "[HKEY_LOCAL_MACHINE\\SOFTWARE]\n", header + "[HKEY_CURRENT_USER\\A\n",
          header + "[HKEY_CURRENT_USER\\A]\n\"v\"=\"unclosed\n",
          header + "[HKEY_CURRENT_USER\\A]\n\"v\"=dword:123456789\n",
          header + "[HKEY_CURRENT_USER\\A]\n\"v\"=hex:1,2,zz\n",
          header + "[HKEY_CURRENT_USER\\A]\n\"v\"=hex(2):41,00,\\\n",
          header + "[HKEY_CURRENT_USER\\A]\n\"v\"=-\n",
          header + "[HKEY_CURRENT_USER\\A]\ngarbage\n",
          std::string("Windows Registry Editor Version 5.00\0junk", 41)}) {
        EXPECT_FALSE(RegHive::Parse(bad, kUser)) << bad;
    }
    EXPECT_TRUE(RegHive::Parse("", kUser)) << "an empty file holds no keys";
    // A very deep key is no threat to the stack.
    std::string deep = header + "[HKEY_CURRENT_USER";
    for (int i = 0; i < 3000; ++i) {
        deep += "\\k";
    }
    const auto hive = RegHive::Parse(deep + "]\n", kUser);
    ASSERT_TRUE(hive);
    EXPECT_EQ(hive->Keys().size(), 3000U);
}

TEST(RegHiveFormat, GarbageNeverCrashes) {
    const std::string seed = "Windows Registry Editor Version 5.00\n\n[HKEY_CURRENT_USER\\A\\B]\n"
                             "\"s\"=\"x\\\\y\"\n\"d\"=dword:1\n\"h\"=hex(2):41,00,\\\n 00,00\n";
    std::mt19937 random(7);
    for (int round = 0; round < 3000; ++round) {
        std::string text = seed;
        const int edits = 1 + static_cast<int>(random() % 4);
        for (int e = 0; e < edits; ++e) {
            const std::size_t at = random() % text.size();
            switch (random() % 3) {
            case 0:
                text[at] = static_cast<char>(random());
                break;
            case 1:
                text.erase(at, 1 + random() % 5);
                break;
            default:
                text.resize(at);
                break;
            }
            if (text.empty()) {
                text = "x";
            }
        }
        const auto hive = RegHive::Parse(text, kUser);
        if (hive) {
            EXPECT_TRUE(RegHive::Parse(hive->Serialize(kUser), kUser));
        }
    }
}

TEST(RegHiveModel, KeysValuesAndEmptiness) {
    RegHive hive;
    EXPECT_TRUE(hive.IsEmpty());
    EXPECT_FALSE(hive.SetValue("SOFTWARE\\Orvane", RegValue::String("a", "b"))) << "no key yet";
    EXPECT_TRUE(hive.CreateKey("SOFTWARE\\Orvane\\Tintavo\\Sub"));
    EXPECT_FALSE(hive.CreateKey("software\\orvane"));
    EXPECT_FALSE(hive.IsEmpty());
    EXPECT_TRUE(hive.SetValue("SOFTWARE\\Orvane", RegValue::String("Tintavo", "/a")));
    EXPECT_TRUE(hive.SetValue("SOFTWARE\\Orvane", RegValue::DWord("TINTAVO", 1)));
    ASSERT_EQ(hive.FindKey("SOFTWARE\\Orvane")->values.size(), 1U);
    EXPECT_EQ(hive.FindKey("SOFTWARE\\Orvane")->values[0].name, "Tintavo") << "first spelling kept";
    EXPECT_EQ(hive.FindKey("SOFTWARE\\Orvane")->values[0].type, REG_DWORD);
    EXPECT_TRUE(hive.DeleteKeyTree("SOFTWARE\\Orvane\\TINTAVO"));
    EXPECT_FALSE(hive.KeyExists("SOFTWARE\\Orvane\\Tintavo\\Sub"));
    EXPECT_FALSE(hive.DeleteKeyTree("SOFTWARE\\Orvane\\Tintavo"));
    EXPECT_TRUE(hive.DeleteValue("SOFTWARE\\Orvane", "tintavo"));
    EXPECT_FALSE(hive.DeleteValue("SOFTWARE\\Orvane", "tintavo"));
    hive.CreateKey("SOFTWARE\\OrvaneOther");
    EXPECT_TRUE(hive.DeleteKeyTree("SOFTWARE\\Orvane"));
    EXPECT_TRUE(hive.KeyExists("SOFTWARE\\OrvaneOther")) << "a longer sibling name is no child";
    hive.DeleteKeyTree("SOFTWARE\\OrvaneOther");
    EXPECT_TRUE(hive.IsEmpty()) << "only the standard SOFTWARE key is left";
    EXPECT_EQ(NormalizeKeyPath("\\SOFTWARE\\\\Orvane\\"), "SOFTWARE\\Orvane");
}

TEST(Utf16, RoundTripsAnyBytes) {
    EXPECT_EQ(Utf8ToUtf16Le("A€"), std::string("A\0\xAC\x20", 4));
    for (const std::string& text :
         {std::string("plain"), std::string("é€𝄞"), std::string("\xff\xfe\xc3(\xed\xa0\x80"),
          std::string("\xf4\x90\x80\x80"), std::string("\xe0\x80\xaf")}) {
        EXPECT_EQ(Utf16LeToUtf8(Utf8ToUtf16Le(text)), text);
    }
}

TEST(UserHive, WritesReadsAndCleansUpAfterItself) {
    TestSandbox sandbox;
    const fs::path folder = sandbox.configHome() / "Orvane";
    EXPECT_EQ(UserHivePath(), (folder / "registry.reg").string());
    EXPECT_FALSE(RegKeyExists(RegRoot::CurrentUser, "SOFTWARE\\Orvane"));
    EXPECT_FALSE(RegDeleteValue("SOFTWARE\\Orvane", "x"));
    EXPECT_FALSE(fs::exists(folder)) << "a change that leaves nothing leaves no folder";

    ASSERT_TRUE(RegCreateKey("SOFTWARE\\Orvane\\Tintavo"));
    ASSERT_TRUE(RegSetValue("SOFTWARE\\Orvane", RegValue::String("Tintavo", "/opt/t")));
    EXPECT_FALSE(RegSetValue("SOFTWARE\\Missing", RegValue::String("a", "b")));
    const std::string text = readFile(folder / "registry.reg");
    EXPECT_NE(text.find("[HKEY_CURRENT_USER\\SOFTWARE\\Orvane]\n\"Tintavo\"=\"/opt/t\"\n"),
              std::string::npos)
        << text;
    EXPECT_EQ(RegReadValue(RegRoot::CurrentUser, "software\\orvane", "TINTAVO")->data, "/opt/t");
    EXPECT_EQ(RegSubkeyNames(RegRoot::CurrentUser, "SOFTWARE\\Orvane"),
              std::vector<std::string>{"Tintavo"});
    EXPECT_EQ(fs::status(folder / "registry.reg").permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write);

    EXPECT_FALSE(RegDeleteKeyIfEmpty("SOFTWARE\\Orvane")) << "it has a subkey and a value";
    EXPECT_TRUE(RegDeleteKeyTree("SOFTWARE\\Orvane\\Tintavo"));
    EXPECT_FALSE(RegDeleteKeyIfEmpty("SOFTWARE\\Orvane")) << "it still has a value";
    EXPECT_TRUE(RegDeleteValue("SOFTWARE\\Orvane", "Tintavo"));
    EXPECT_TRUE(RegDeleteKeyIfEmpty("SOFTWARE\\Orvane"));
    EXPECT_FALSE(fs::exists(folder)) << "the empty hive and its folder are removed";

    // Another file in the folder keeps the folder.
    writeFile(folder / "other.txt", "x");
    ASSERT_TRUE(RegCreateKey("SOFTWARE\\Orvane"));
    ASSERT_TRUE(RegDeleteKeyTree("SOFTWARE\\Orvane"));
    EXPECT_FALSE(fs::exists(folder / "registry.reg"));
    EXPECT_TRUE(fs::exists(folder / "other.txt"));
}

TEST(UserHive, ABrokenHiveIsMovedAsideAndAFreshOneStarted) {
    TestSandbox sandbox;
    const fs::path hive = sandbox.configHome() / "Orvane/registry.reg";
    const std::string broken = "REGEDIT4\n[HKEY_CURRENT_USER\\A]\n\"x\"=\"no header of ours\"\n";
    writeFile(hive, broken);
    EXPECT_FALSE(RegKeyExists(RegRoot::CurrentUser, "A")) << "read as empty";
    EXPECT_EQ(readFile(hive), broken) << "reading leaves it alone";
    ASSERT_TRUE(RegCreateKey("SOFTWARE\\Orvane"));
    EXPECT_EQ(readFile(hive.string() + ".bad"), broken);
    EXPECT_TRUE(RegKeyExists(RegRoot::CurrentUser, "SOFTWARE\\Orvane"));
    EXPECT_FALSE(RegKeyExists(RegRoot::CurrentUser, "A"));

    // A second unreadable hive goes beside the first kept copy, never over it.
    writeFile(hive, "second\n");
    ASSERT_TRUE(RegCreateKey("SOFTWARE\\Orvane"));
    EXPECT_EQ(readFile(hive.string() + ".bad"), broken);
    EXPECT_EQ(readFile(hive.string() + ".bad.2"), "second\n");

    // A hive that is no file at all cannot be replaced: the change fails, nothing crashes.
    fs::remove(hive);
    fs::create_directory(hive);
    EXPECT_FALSE(RegCreateKey("SOFTWARE\\Orvane"));
    EXPECT_FALSE(RegKeyExists(RegRoot::CurrentUser, "SOFTWARE\\Orvane"));
}

TEST(UserHive, DamagedLinesAreKeptWhenTheHiveIsWrittenAgain) {
    TestSandbox sandbox;
    const fs::path hive = sandbox.configHome() / "Orvane/registry.reg";
    const std::vector<std::string> damaged = {"\"v\"=\"unclosed", "garbage line",
                                              "[HKEY_LOCAL_MACHINE\\Other]", "\"w\"=dword:1"};
    writeFile(hive, "Windows Registry Editor Version 5.00\r\n\r\n[HKEY_CURRENT_USER\\A]\r\n"
                    "\"x\"=\"1\"\r\n" +
                        damaged[0] + "\r\n" + damaged[1] + "\r\n" + damaged[2] + "\r\n" +
                        damaged[3] + "\r\n[HKEY_CURRENT_USER\\B]\r\n\"y\"=\"2\"\r\n");
    EXPECT_EQ(RegReadValue(RegRoot::CurrentUser, "A", "x")->data, "1") << "the rest reads";
    ASSERT_TRUE(RegSetValue("B", RegValue::String("z", "3")));
    const std::string text = readFile(hive);
    for (const std::string& line : damaged) {
        EXPECT_NE(text.find("\n" + line + "\n"), std::string::npos) << line << " in\n" << text;
    }
    EXPECT_FALSE(fs::exists(hive.string() + ".bad"));
    EXPECT_EQ(RegReadValue(RegRoot::CurrentUser, "A", "x")->data, "1");
    EXPECT_EQ(RegReadValue(RegRoot::CurrentUser, "B", "z")->data, "3");
    EXPECT_FALSE(RegKeyExists(RegRoot::CurrentUser, "Other"));
    // Written once more, the kept lines stay as they were and come no second time.
    ASSERT_TRUE(RegDeleteValue("B", "z"));
    const std::string again = readFile(hive);
    for (const std::string& line : damaged) {
        EXPECT_EQ(again.find(line), again.rfind(line)) << line;
        EXPECT_NE(again.find(line), std::string::npos) << line;
    }
}

TEST(UserHive, ALinkedHiveStaysALinkAndKeepsItsMode) {
    TestSandbox sandbox;
    const fs::path folder = sandbox.configHome() / "Orvane";
    const fs::path real = sandbox.root() / "dotfiles/registry.reg";
    writeFile(real, "Windows Registry Editor Version 5.00\n\n[HKEY_CURRENT_USER\\A]\n");
    fs::permissions(real, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read,
                    fs::perm_options::replace);
    fs::create_directories(folder);
    fs::create_symlink("../../../dotfiles/registry.reg", folder / "registry.reg");
    ASSERT_TRUE(RegSetValue("A", RegValue::String("x", "1")));
    EXPECT_TRUE(fs::is_symlink(folder / "registry.reg"));
    EXPECT_NE(readFile(real).find("\"x\"=\"1\""), std::string::npos);
    EXPECT_EQ(fs::status(real).permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    EXPECT_EQ(std::distance(fs::directory_iterator(real.parent_path()), fs::directory_iterator()),
              1)
        << "no temporary file left beside the real hive";
}

TEST(UserHive, FoldersItCreatesAreTheUsersOnly) {
    TestSandbox sandbox;
    sandbox.setEnv("XDG_CONFIG_HOME", (sandbox.root() / "fresh/config").string());
    ASSERT_TRUE(RegCreateKey("SOFTWARE\\Orvane"));
    for (const fs::path& made : {sandbox.root() / "fresh", sandbox.root() / "fresh/config",
                                 sandbox.root() / "fresh/config/Orvane"}) {
        EXPECT_EQ(fs::status(made).permissions() & fs::perms::all, fs::perms::owner_all) << made;
    }
    EXPECT_EQ(fs::status(UserHivePath()).permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write);
}

TEST(UserHive, AnotherLockHolderIsWaitedForOnlySoLong) {
    TestSandbox sandbox;
    const fs::path folder = sandbox.configHome() / "Orvane";
    ASSERT_TRUE(RegCreateKey("A"));
    ASSERT_TRUE(RegSetValue("A", RegValue::String("x", "1")));
    const std::string stored = readFile(folder / "registry.reg");

    // A lock taken through another open file conflicts as another process's would.
    Fd other(::open((folder / "registry.lock").c_str(), O_RDWR | O_CLOEXEC));
    ASSERT_EQ(::flock(other.Get(), LOCK_EX), 0);
    struct RestoreWait {
        ~RestoreWait() { SetHiveLockWaitForTests(std::chrono::seconds(5)); }
    } restore;
    SetHiveLockWaitForTests(std::chrono::milliseconds(100));
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(RegSetValue("A", RegValue::String("x", "2")));
    EXPECT_FALSE(RegDeleteKeyTree("A")) << "would leave the hive empty and remove it";
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
    EXPECT_EQ(readFile(folder / "registry.reg"), stored);
    EXPECT_EQ(RegReadValue(RegRoot::CurrentUser, "A", "x")->data, "1") << "reads take no lock";

    // Let go while a change waits: the change goes through.
    SetHiveLockWaitForTests(std::chrono::seconds(5));
    std::thread release([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        other.Reset();
    });
    EXPECT_TRUE(RegSetValue("A", RegValue::String("x", "2")));
    release.join();
    EXPECT_EQ(RegReadValue(RegRoot::CurrentUser, "A", "x")->data, "2");
}

TEST(MachineHive, ReadOnlyFromTheConfigDirs) {
    TestSandbox sandbox;
    EXPECT_EQ(MachineHivePath(), "");
    const fs::path second = sandbox.root() / "etc2";
    sandbox.setEnv("XDG_CONFIG_DIRS",
                   (sandbox.root() / "etc/xdg").string() + ":" + second.string());
    writeFile(second / "Orvane/registry.reg",
              "Windows Registry Editor Version 5.00\n\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Orvane]\n"
              "\"Machine\"=\"yes\"\n");
    EXPECT_EQ(MachineHivePath(), (second / "Orvane/registry.reg").string());
    EXPECT_EQ(RegReadValue(RegRoot::LocalMachine, "SOFTWARE\\Orvane", "machine")->data, "yes");
    EXPECT_FALSE(RegKeyExists(RegRoot::CurrentUser, "SOFTWARE\\Orvane"));
}
