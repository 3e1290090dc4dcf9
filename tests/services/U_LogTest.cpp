#include <gtest/gtest.h>

#include "common/TestSandbox.h"
#include "platform/ShellLaunch.h"
#include "services/U_Log.h"

#include <cstdlib>
#include <filesystem>
#include <regex>
#include <string>
#include <sys/wait.h>
#include <vector>

namespace fs = std::filesystem;
using tintavo::TTovikLog;
using tintavo::test::readFile;

namespace {

// The file's entries split at CR LF (the last one ends with CR LF too).
std::vector<std::string> FileLines(const fs::path& path) {
    const std::string content = readFile(path);
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < content.size()) {
        const auto end = content.find("\r\n", start);
        EXPECT_NE(end, std::string::npos) << "unterminated last line";
        if (end == std::string::npos) {
            break;
        }
        lines.push_back(content.substr(start, end - start));
        start = end + 2;
    }
    return lines;
}

std::string MessageOf(const std::string& entry) {
    const auto first = entry.find('\t');
    const auto second = entry.find('\t', first + 1);
    return entry.substr(second + 1);
}

} // namespace

TEST(RunLogFormat, EntryAndTimeStamp) {
    std::tm t{};
    t.tm_year = 124;
    t.tm_mon = 2;
    t.tm_mday = 5;
    t.tm_hour = 14;
    t.tm_min = 7;
    t.tm_sec = 9;
    EXPECT_EQ(tintavo::FormatLogEntry("Starting", 1, t, ":"),
              "Info\t[24-03-05 14:07:09]\tStarting");
    EXPECT_EQ(tintavo::FormatLogTimeStamp(t, "."), "[24-03-05 14.07.09]");
    EXPECT_EQ(tintavo::FormatLogEntry("", 2, t, ":"), "Error\t[24-03-05 14:07:09]\t");
    t.tm_year = 100;
    t.tm_hour = 0;
    EXPECT_EQ(tintavo::FormatLogTimeStamp(t, ":"), "[00-03-05 00:07:09]");
    EXPECT_STREQ(tintavo::LogLevelName(0), "Verbose");
    EXPECT_STREQ(tintavo::LogLevelName(7), "Error");
}

TEST(RunLog, WritesNewestFirstWithCrLfAndClampsLevels) {
    tintavo::test::TestSandbox sandbox;
    const fs::path path = sandbox.root() / "Tintavo.log";
    TTovikLog log(path.string(), false, 10000);
    EXPECT_FALSE(fs::exists(path)) << "creating the log must not touch the file";
    log.Add("Starting", tintavo::LogInfo);
    log.Add("Broken", 7);
    log.Add("", tintavo::LogInfo);
    const auto lines = FileLines(path);
    ASSERT_EQ(lines.size(), 3U);
    EXPECT_TRUE(std::regex_match(
        lines[2], std::regex(R"(Info\t\[\d\d-\d\d-\d\d \d\d:\d\d:\d\d\]\tStarting)")));
    EXPECT_EQ(lines[1].substr(0, 6), "Error\t");
    EXPECT_EQ(MessageOf(lines[1]), "Broken");
    EXPECT_EQ(lines[0].back(), '\t') << "an empty message ends with the TAB";
}

TEST(RunLog, VerboseLinesAreDroppedUnlessAsked) {
    tintavo::test::TestSandbox sandbox;
    const fs::path path = sandbox.root() / "a.log";
    TTovikLog quiet(path.string(), false, 10);
    quiet.Add("Cleaning VirtualStore : /x/", tintavo::LogVerbose);
    quiet.Add("Detail", -3);
    EXPECT_TRUE(quiet.Lines().empty());
    EXPECT_FALSE(fs::exists(path));

    TTovikLog chatty(path.string(), true, 10);
    chatty.Add("Detail", tintavo::LogVerbose);
    ASSERT_EQ(chatty.Lines().size(), 1U);
    EXPECT_EQ(chatty.Lines()[0].substr(0, 8), "Verbose\t");
}

TEST(RunLog, RollsAtMaxLinesAndCountsMultiLineMessagesOnce) {
    tintavo::test::TestSandbox sandbox;
    const fs::path path = sandbox.root() / "a.log";
    // The window's limit is 10000; the rule is the same for any limit, and every add rewrites
    // the whole file, so a smaller one keeps the test quick.
    TTovikLog log(path.string(), false, 500);
    for (int i = 1; i <= 501; ++i) {
        log.Add("line " + std::to_string(i), tintavo::LogInfo);
    }
    auto lines = FileLines(path);
    ASSERT_EQ(lines.size(), 500U);
    EXPECT_EQ(MessageOf(lines.front()), "line 501");
    EXPECT_EQ(MessageOf(lines.back()), "line 2");

    TTovikLog small(path.string(), false, 2);
    small.Add("one", 1);
    small.Add("two\r\nhalves", 1);
    small.Add("three", 1);
    ASSERT_EQ(small.Lines().size(), 2U);
    lines = FileLines(path);
    ASSERT_EQ(lines.size(), 3U) << "the embedded line break shows as two text lines";
    EXPECT_EQ(MessageOf(lines[0]), "three");
    EXPECT_EQ(lines[2], "halves");
}

TEST(RunLog, ANewRunReplacesTheOldFile) {
    tintavo::test::TestSandbox sandbox;
    const fs::path path = sandbox.root() / "a.log";
    {
        TTovikLog first(path.string(), false, 10);
        first.Add("old 1", 1);
        first.Add("old 2", 1);
    }
    TTovikLog second(path.string(), false, 10);
    second.Add("new", 1);
    const auto lines = FileLines(path);
    ASSERT_EQ(lines.size(), 1U);
    EXPECT_EQ(MessageOf(lines[0]), "new");
}

TEST(RunLog, WriteFailuresAreSwallowedAndHealAtTheNextLine) {
    tintavo::test::TestSandbox sandbox;
    const fs::path folder = sandbox.root() / "later";
    const fs::path path = folder / "a.log";
    TTovikLog log(path.string(), false, 10);
    log.Add("while missing 1", 1);
    log.Add("while missing 2", 1);
    EXPECT_FALSE(fs::exists(path));
    EXPECT_EQ(log.Lines().size(), 2U);
    fs::create_directories(folder);
    log.Add("back", 1);
    const auto lines = FileLines(path);
    ASSERT_EQ(lines.size(), 3U);
    EXPECT_EQ(MessageOf(lines[2]), "while missing 1");

    tintavo::AddToLog(nullptr, "through an empty slot", 1);
    tintavo::AddToLog(&log, "through the slot", 1);
    EXPECT_EQ(MessageOf(log.Lines()[0]), "through the slot");
}

TEST(RunLog, OpenHandsTheExpandedPathToTheDesktop) {
    tintavo::test::TestSandbox sandbox;
    sandbox.setEnv("TINTAVO_LOG_DIR", sandbox.root().string());
    std::vector<std::string> opened;
    tintavo::platform::ScopedShellOpener opener([&](const std::string& target) {
        opened.push_back(target);
        return true;
    });
    TTovikLog log("%TINTAVO_LOG_DIR%/a.log", false, 10);
    EXPECT_FALSE(log.Open()) << "no line yet, so no file to open";
    EXPECT_TRUE(opened.empty());
    TTovikLog real((sandbox.root() / "a.log").string(), false, 10);
    real.Add("x", 1);
    EXPECT_TRUE(log.Open());
    ASSERT_EQ(opened.size(), 1U);
    EXPECT_EQ(opened[0], (sandbox.root() / "a.log").string());
}

// A locale whose time separator is a dot, built for the test with the system's localedef.
TEST(RunLog, TakesTheTimeSeparatorOfTheUsersLocale) {
    tintavo::test::TestSandbox sandbox;
    const fs::path source = sandbox.root() / "dot_time.def";
    tintavo::test::writeFile(
        source, "comment_char %\nescape_char /\nLC_CTYPE\ncopy \"POSIX\"\nEND LC_CTYPE\n"
                "LC_TIME\nabday \"Sun\";\"Mon\";\"Tue\";\"Wed\";\"Thu\";\"Fri\";\"Sat\"\n"
                "day \"Sunday\";\"Monday\";\"Tuesday\";\"Wednesday\";\"Thursday\";\"Friday\";"
                "\"Saturday\"\nabmon \"Jan\";\"Feb\";\"Mar\";\"Apr\";\"May\";\"Jun\";\"Jul\";"
                "\"Aug\";\"Sep\";\"Oct\";\"Nov\";\"Dec\"\nmon \"January\";\"February\";\"March\";"
                "\"April\";\"May\";\"June\";\"July\";\"August\";\"September\";\"October\";"
                "\"November\";\"December\"\nd_t_fmt \"%a %d %b %Y %H.%M.%S\"\n"
                "d_fmt \"%d.%m.%Y\"\nt_fmt \"%H.%M.%S\"\nam_pm \"\";\"\"\nt_fmt_ampm \"\"\n"
                "END LC_TIME\n");
    const fs::path locales = sandbox.root() / "locales";
    fs::create_directories(locales);
    const std::string command = "localedef -c -i '" + source.string() + "' -f ANSI_X3.4-1968 '" +
                                (locales / "dot_TIME").string() + "' >/dev/null 2>&1";
    // localedef answers 1 for the warnings about the categories left out.
    const int status = std::system(command.c_str());
    if (status == -1 || !WIFEXITED(status) || WEXITSTATUS(status) > 1 ||
        !fs::exists(locales / "dot_TIME")) {
        GTEST_SKIP() << "localedef cannot build a test locale here";
    }
    sandbox.setEnv("LOCPATH", locales.string());
    sandbox.setEnv("LC_ALL", std::nullopt);
    sandbox.setEnv("LC_TIME", "dot_TIME");
    const fs::path path = sandbox.root() / "a.log";
    TTovikLog log(path.string(), false, 10);
    log.Add("Starting", tintavo::LogInfo);
    EXPECT_TRUE(std::regex_match(
        log.Lines()[0], std::regex(R"(Info\t\[\d\d-\d\d-\d\d \d\d\.\d\d\.\d\d\]\tStarting)")))
        << log.Lines()[0];
}
