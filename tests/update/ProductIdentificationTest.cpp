#include <gtest/gtest.h>

#include "PeFixture.h"
#include "common/TestSandbox.h"
#include "update/U_ZelkFct.h"

#include <functional>
#include <pthread.h>

namespace tintavo {
namespace {

using Strings = std::vector<std::pair<std::string, std::string>>;

class ProductIdentification : public ::testing::Test {
protected:
    std::string Make(const std::string& name, const Strings& strings, bool is64 = false) {
        return test::WritePe(sandbox_.root() / name, test::SimpleSpec(1, 0, 0, 0, strings), is64);
    }
    test::TestSandbox sandbox_;
};

TEST_F(ProductIdentification, TheProgramsOwnFile) {
    const TDisplayedFileInfo info = GetDisplayedFileInfo(test::OwnExecutable());
    EXPECT_EQ(info.Product, "Tintavo");
    EXPECT_EQ(info.Company, "Orvane");
}

TEST_F(ProductIdentification, ChoosesAndCleansTheProductName) {
    struct Case {
        const char* why;
        Strings strings;
        bool is64;
        const char* expected;
    };
    const Case cases[] = {
        {"a trailing version number is dropped",
         {{"FileDescription", "Foo Bar Tool 2.1"}},
         false,
         "Foo Bar Tool"},
        {"a description beginning with the product name keeps the product name",
         {{"ProductName", "Acme Draw"}, {"FileDescription", "Acme Draw main executable"}},
         false,
         "Acme Draw"},
        {"a description of five words or more yields the product name",
         {{"ProductName", "Zip"}, {"FileDescription", "The best archive tool of all"}},
         false,
         "Zip"},
        {"a 64-bit image gets the marker once",
         {{"FileDescription", "Foo Tool x64"}},
         true,
         "Foo Tool (64 bits)"},
        {"a 64-bit image already marked keeps one marker",
         {{"FileDescription", "Foo Tool (64 bits)"}},
         true,
         "Foo Tool (64 bits)"},
        {"a bitness marker in brackets is cut",
         {{"FileDescription", "Foo Viewer (32-bit)"}},
         false,
         "Foo Viewer"},
        {"trademark signs and the (tm) word go",
         {{"FileDescription", "Foo\xE2\x84\xA2 Studio (TM)"}},
         false,
         "Foo Studio"},
        {"a platform suffix goes",
         {{"FileDescription", "Foo Player for Windows"}},
         false,
         "Foo Player"},
        {"a bracketed description is taken only beside a registered product name",
         {{"ProductName", "Acme Paint"}, {"FileDescription", "Paint (editor)"}},
         false,
         "Acme Paint"},
        {"a registered product name lets a bracketed description through",
         {{"ProductName", "Acme\xC2\xAE Paint"}, {"FileDescription", "Paint (editor)"}},
         false,
         "Paint (editor)"},
        {"a long description with an internal name takes the internal name",
         {{"FileDescription", "a b c d e f g"}, {"InternalName", "abc"}},
         false,
         "abc"},
        {"a trailing web address goes",
         {{"FileDescription", "Foo Tool http://foo.example"}},
         false,
         "Foo Tool"},
        {"question marks mean no name", {{"FileDescription", "A??B"}}, false, ""},
    };
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.why);
        EXPECT_EQ(GetProductName(Make("p" + std::to_string(n++) + ".exe", c.strings, c.is64)),
                  c.expected);
    }
}

TEST_F(ProductIdentification, FileWithoutResourceIsNamedAfterTheFile) {
    const auto path = sandbox_.root() / "plain tool.exe";
    test::WriteBytes(path, test::BuildPeImage(false, std::nullopt));
    const TDisplayedFileInfo info = GetDisplayedFileInfo(path.string());
    EXPECT_EQ(info.Product, "plain tool");
    EXPECT_EQ(info.Company, "");
}

TEST_F(ProductIdentification, CompanyFromItsFieldOrFromTheCopyright) {
    EXPECT_EQ(GetCompanyName(
                  Make("c1.exe", {{"CompanyName", "Copyright (C) 2010 Acme Software, All Rights "
                                                  "Reserved."}})),
              "Acme Software");
    EXPECT_EQ(
        GetCompanyName(Make("c2.exe", {{"CompanyName", "TODO:"}, {"LegalCopyright", "Acme Inc."}})),
        "Acme Inc.");
    EXPECT_EQ(GetCompanyName(Make("c3.exe", {{"CompanyName", "none"}})), "");
    EXPECT_EQ(GetCompanyName(Make("c4.exe", {{"CompanyName", "GNU General Public License"}})), "");
    // Only the company's name, no product to fall back on: the product is the file name.
    const TDisplayedFileInfo info =
        GetDisplayedFileInfo(Make("c5.exe", {{"CompanyName", "Acme"}, {"FileDescription", "?"}}));
    EXPECT_EQ(info.Product, "c5");
    EXPECT_EQ(info.Company, "Acme");
}

TEST(CompanyCleanUp, StripCopyrightRemovesNoticesAroundTheName) {
    EXPECT_EQ(StripCopyright("Copyright (C) 2010 Acme Software, All Rights Reserved."),
              "Acme Software");
    EXPECT_EQ(StripCopyright("\xC2\xA9 2004-2012 Acme Ltd."), "Acme Ltd.");
    EXPECT_EQ(StripCopyright("Acme Corp. 2011"), "Acme Corp.");
    // The rights phrase takes the character before it along.
    EXPECT_EQ(StripCopyright("(c) Acme Corp. All rights reserved."), "Acme Corp");
    EXPECT_EQ(StripCopyright("Copyright\xC3\x82\xC2\xA9 Acme"), "Acme");
    EXPECT_EQ(StripCopyright("Acme Labs under the GPL"), "Acme Labs");
    EXPECT_EQ(StripCopyright("by Acme"), "Acme");
    EXPECT_EQ(StripCopyright("Acme"), "Acme");
    EXPECT_EQ(StripCopyright(""), "");
}

// Runs the work on a thread with a small stack, so that a depth growing with the input
// would crash the test.
void OnSmallStack(const std::function<void()>& work) {
    pthread_attr_t attributes;
    pthread_attr_init(&attributes);
    pthread_attr_setstacksize(&attributes, 256 * 1024);
    pthread_t thread;
    std::function<void()> task = work; // lives until the thread is joined
    ASSERT_EQ(pthread_create(
                  &thread, &attributes,
                  [](void* arg) -> void* {
                      (*static_cast<std::function<void()>*>(arg))();
                      return nullptr;
                  },
                  &task),
              0);
    pthread_join(thread, nullptr);
    pthread_attr_destroy(&attributes);
}

TEST(CompanyCleanUp, LongTextsOfShortWordsNeitherRecurseNorRescan) {
    // A quarter megabyte of words that each pass removes one of: as many passes as words. A pass
    // that went deeper on the stack or copied the whole text would not come through this size.
    const auto repeated = [](std::string_view word) {
        std::string text;
        while (text.size() < (1u << 18)) {
            text += word;
        }
        return text;
    };
    OnSmallStack([&] {
        EXPECT_EQ(StripCopyright(repeated("by ") + "Acme"), "Acme");
        EXPECT_EQ(StripCopyright("Acme" + repeated(" 2000")), "Acme");
        EXPECT_EQ(StripCopyright("Acme" + repeated("-")), "Acme");
        EXPECT_EQ(CleanName(repeated("? ") + "Acme"), "Acme");
        EXPECT_EQ(CleanName("Acme" + repeated(" http://a")), "Acme");
        EXPECT_EQ(CleanCompanyName("Acme" + repeated(",;"), ""), "Acme");
    });
}

TEST(CompanyCleanUp, CleanCompanyNameAndCleanName) {
    EXPECT_EQ(CleanCompanyName("Acme\r\nSecond line", ""), "Acme");
    EXPECT_EQ(CleanCompanyName("-", ""), "");
    EXPECT_EQ(CleanCompanyName("Author: Jo Smith", ""), "Jo Smith");
    EXPECT_EQ(CleanCompanyName("Acme Tools http://acme.example", ""), "Acme Tools");
    EXPECT_EQ(CleanCompanyName("Acme Tools www.acme.example", ""), "Acme Tools");
    EXPECT_EQ(CleanCompanyName("Acme, L.L.C.", ""), "Acme,LLC");
    EXPECT_EQ(CleanCompanyName("Acme Inc. (", ""), "Acme Inc.");
    EXPECT_EQ(CleanCompanyName("$Company$", ""), "");
    EXPECT_EQ(CleanCompanyName("Uses GNU GPL code", ""), "");
    EXPECT_EQ(CleanName("?Acme -"), "Acme");
    EXPECT_EQ(CleanName("@"), "");
    EXPECT_EQ(CleanName("Acme http://a.example http://b.example"), "Acme");
}

} // namespace
} // namespace tintavo
