#include <gtest/gtest.h>

#include "LoopbackServer.h"
#include "PeFixture.h"
#include "common/TestConfig.h"
#include "common/TestSandbox.h"
#include "platform/Registry.h"
#include "services/U_TovikUtils.h"
#include "update/U_HTTP_Custo.h"
#include "update/U_Zelk_Lite.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <dlfcn.h>
#include <netdb.h>
#include <regex>

namespace {

// A name server that never answers, for the names under kHangingDomain: the test program's
// own getaddrinfo comes before the C library's, so libcurl's lookup of such a name blocks
// until the test lets it go (or 30 s, as a system resolver gives up). Other names go on to
// the C library.
constexpr std::string_view kHangingDomain = ".never-answers.test";
std::mutex gLookupMutex;
std::condition_variable gLookupRelease;
bool gLookupsReleased = false;
std::atomic<int> gLookupsHanging{0};

} // namespace

extern "C" int getaddrinfo(const char* node, const char* service, const addrinfo* hints,
                           addrinfo** result) {
    if (node != nullptr && std::string_view(node).ends_with(kHangingDomain)) {
        ++gLookupsHanging;
        std::unique_lock<std::mutex> lock(gLookupMutex);
        gLookupRelease.wait_for(lock, std::chrono::seconds(30), [] { return gLookupsReleased; });
        --gLookupsHanging;
        return EAI_AGAIN;
    }
    using Lookup = int (*)(const char*, const char*, const addrinfo*, addrinfo**);
    static const auto next = reinterpret_cast<Lookup>(dlsym(RTLD_NEXT, "getaddrinfo"));
    return next(node, service, hints, result);
}

namespace tintavo {
namespace {

using namespace std::chrono_literals;
using test::LoopbackServer;

const std::string kQuery =
    "/zelk/check.php?uid=0&ProductName=Tintavo&Company=Orvane&VH=65544&VL=16";
const std::string kProfileLines =
    "Accept: text/html,application/xhtml+xml,application/xml;q=0.9,*/*;q=0.8\r\n"
    "Accept-Language: fr,fr-fr;q=0.8,en-us;q=0.5,en;q=0.3\r\n"
    "User-Agent: Mozilla/5.0\r\n";

std::string Data(const char* name) {
    return std::string(TINTAVO_TEST_DATA_DIR) + "/update/" + name;
}

// Stands in for the window's event loop: tasks posted from the worker wait here until the
// test runs them on its own thread.
class QueuePoster : public IZelkPoster {
public:
    void Post(std::function<void()> task) override {
        const std::lock_guard<std::mutex> lock(mutex_);
        tasks_.push_back(std::move(task));
        ready_.notify_all();
    }
    // Runs posted tasks until `done` holds or the time is up.
    bool DrainUntil(const std::function<bool()>& done, std::chrono::milliseconds limit = 5s) {
        const auto deadline = std::chrono::steady_clock::now() + limit;
        while (!done()) {
            std::function<void()> task;
            {
                std::unique_lock<std::mutex> lock(mutex_);
                if (!ready_.wait_until(lock, deadline, [this] { return !tasks_.empty(); })) {
                    return false;
                }
                task = std::move(tasks_.front());
                tasks_.pop_front();
            }
            task();
        }
        return true;
    }

private:
    std::mutex mutex_;
    std::condition_variable ready_;
    std::deque<std::function<void()>> tasks_;
};

struct LogLine {
    std::string Message;
    int Level;
};

class ZelkLite : public ::testing::Test {
protected:
    std::unique_ptr<TZelkLite> MakeClient(const std::string& base) {
        auto client = std::make_unique<TZelkLite>(
            [this](const std::string& message, int level) {
                log_.push_back({message, level});
            },
            "Tintavo", poster_);
        client->SetWebSiteLookup([base] { return base; });
        return client;
    }

    // Runs one check of the test program against `base` and waits for its completion.
    std::unique_ptr<TZelkLite> Check(const std::string& base,
                                     const std::function<void(TZelkLite&)>& setup = {}) {
        auto client = MakeClient(base);
        if (setup) {
            setup(*client);
        }
        done_ = 0;
        client->Start(test::OwnExecutable(), [this](TZelkLite& sender) {
            EXPECT_FALSE(sender.Busy());
            ++done_;
        });
        EXPECT_TRUE(client->Busy());
        EXPECT_TRUE(poster_.DrainUntil([this] { return done_ > 0; })) << "no completion";
        return client;
    }

    std::vector<LogLine> LinesAt(int level) const {
        std::vector<LogLine> out;
        for (const LogLine& line : log_) {
            if (line.Level == level) {
                out.push_back(line);
            }
        }
        return out;
    }

    test::TestSandbox sandbox_;
    QueuePoster poster_;
    std::vector<LogLine> log_;
    int done_ = 0;
};

TEST_F(ZelkLite, SendsExactlyTheProfiledRequestAndFindsANewVersion) {
    LoopbackServer server(
        [](const std::string&) { return LoopbackServer::Reply("200 OK", "1.8.0.17"); });
    const auto client = Check(server.base());
    ASSERT_EQ(server.requests().size(), 1u);
    EXPECT_EQ(server.requests()[0], "GET " + kQuery + " HTTP/1.1\r\n" + kProfileLines +
                                        "Host: 127.0.0.1:" + std::to_string(server.port()) +
                                        "\r\n\r\n");
    EXPECT_TRUE(client->NewVersion());
    EXPECT_TRUE(client->ReplyValid());
    EXPECT_EQ(client->OwnHigh(), 65544u);
    EXPECT_EQ(client->OwnLow(), 16u);
    EXPECT_EQ(done_, 1);

    ASSERT_EQ(log_.size(), 2u);
    EXPECT_EQ(log_[0].Message, "Tintavo Update self check : Initialization");
    EXPECT_EQ(log_[0].Level, kZelkInfo);
    EXPECT_TRUE(
        std::regex_match(log_[1].Message, std::regex("Tintavo Update self check : Server replied "
                                                     "1\\.8\\.0\\.17 in -?[0-9]+ms")))
        << log_[1].Message;
    EXPECT_EQ(log_[1].Level, kZelkInfo);
}

TEST_F(ZelkLite, JudgesTheReplyBody) {
    struct Case {
        std::string status;
        std::string body;
        bool newVersion;
        bool valid;
        std::string logged;
    };
    const std::vector<Case> cases = {
        {"200 OK", "1.8.0.16", false, true, "1.8.0.16"},
        {"200 OK", "1.9", true, true, "1.9.0.0"},
        {"200 OK", "1.8.0.17\r\n", false, true, "1.8.0.0"}, // the line break costs the build
        {"200 OK", "", false, false, "0.0.0.0"},
        {"200 OK", "0.0.0.0", false, false, "0.0.0.0"},
        {"200 OK", "<html><body>Maintenance</body></html>", false, false, "0.0.0.0"},
        {"200 OK", "70000.0.0.0", false, false, "0.0.0.0"},
        {"404 Not Found", "<html>missing</html>", false, false, "0.0.0.0"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE("body: " + c.body);
        log_.clear();
        LoopbackServer server(
            [&c](const std::string&) { return LoopbackServer::Reply(c.status, c.body); });
        const auto client = Check(server.base());
        EXPECT_EQ(client->NewVersion(), c.newVersion);
        EXPECT_EQ(client->ReplyValid(), c.valid);
        ASSERT_GE(log_.size(), 2u);
        EXPECT_TRUE(log_[1].Message.starts_with("Tintavo Update self check : Server replied " +
                                                c.logged + " in "))
            << log_[1].Message;
        const auto verbose = LinesAt(kZelkVerbose);
        if (c.valid) {
            EXPECT_TRUE(verbose.empty());
        } else {
            ASSERT_EQ(verbose.size(), 1u);
            EXPECT_EQ(verbose[0].Message, "Tintavo Update self check : Server error (0 Cause : " +
                                              c.status.substr(4) + ")");
        }
        EXPECT_TRUE(LinesAt(kZelkError).empty());
    }
}

TEST_F(ZelkLite, AServerThatNeverAnswersEndsAsFailedAtTheTimeLimit) {
    LoopbackServer server([](const std::string&) { return std::nullopt; });
    const auto started = std::chrono::steady_clock::now();
    const auto client = Check(server.base(), [](TZelkLite& c) { c.SetTimeLimit(300ms); });
    EXPECT_LT(std::chrono::steady_clock::now() - started, 4s);
    EXPECT_FALSE(client->ReplyValid());
    EXPECT_FALSE(client->NewVersion());
    const auto errors = LinesAt(kZelkError);
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0].Message, "Tintavo Update self check : Server error (28)");
}

// Lets the hanging lookups go when a test ends, so that libcurl's resolver threads end too.
class HangingLookups {
public:
    HangingLookups() {
        const std::lock_guard<std::mutex> lock(gLookupMutex);
        gLookupsReleased = false;
    }
    ~HangingLookups() {
        {
            const std::lock_guard<std::mutex> lock(gLookupMutex);
            gLookupsReleased = true;
        }
        gLookupRelease.notify_all();
    }
    static bool WaitUntilOneHangs() {
        const auto deadline = std::chrono::steady_clock::now() + 3s;
        while (gLookupsHanging.load() == 0 && std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(5ms);
        }
        return gLookupsHanging.load() > 0;
    }
};

TEST_F(ZelkLite, ANameServerThatNeverAnswersEndsAsFailedAtTheTimeLimit) {
    const HangingLookups lookups;
    const auto client = Check("http://update" + std::string(kHangingDomain),
                              [](TZelkLite& c) { c.SetTimeLimit(300ms); });
    EXPECT_GT(gLookupsHanging.load(), 0) << "the lookup must still hang when the check ends";
    EXPECT_FALSE(client->Busy());
    EXPECT_FALSE(client->ReplyValid());
    const auto errors = LinesAt(kZelkError);
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0].Message, "Tintavo Update self check : Server error (28)");

    // The next check does not wait for the abandoned lookup either.
    LoopbackServer server(
        [](const std::string&) { return LoopbackServer::Reply("200 OK", "1.8.0.17"); });
    client->SetWebSiteLookup([base = server.base()] { return base; });
    done_ = 0;
    client->Start(test::OwnExecutable(), [this](TZelkLite&) { ++done_; });
    EXPECT_TRUE(poster_.DrainUntil([this] { return done_ > 0; }));
    EXPECT_TRUE(client->NewVersion());
}

TEST_F(ZelkLite, DestructionDuringAHangingLookupDoesNotWait) {
    const HangingLookups lookups;
    bool called = false;
    auto client = MakeClient("http://update" + std::string(kHangingDomain));
    client->Start(test::OwnExecutable(), [&called](TZelkLite&) { called = true; });
    ASSERT_TRUE(HangingLookups::WaitUntilOneHangs());
    const auto started = std::chrono::steady_clock::now();
    client.reset();
    EXPECT_LT(std::chrono::steady_clock::now() - started, 1s);
    poster_.DrainUntil([] { return false; }, 200ms);
    EXPECT_FALSE(called);
}

TEST_F(ZelkLite, ARefusedConnectionLogsOneErrorLine) {
    const auto client = Check("http://127.0.0.1:" + std::to_string(test::UnusedPort()));
    EXPECT_FALSE(client->Busy());
    EXPECT_FALSE(client->ReplyValid());
    const auto errors = LinesAt(kZelkError);
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0].Message, "Tintavo Update self check : Server error (7)");
    EXPECT_EQ(done_, 1);
}

TEST_F(ZelkLite, AnOversizedReplyIsNotCollected) {
    LoopbackServer server([](const std::string&) {
        return LoopbackServer::Reply("200 OK", "1.9" + std::string(2 << 20, ' '));
    });
    const auto client = Check(server.base());
    EXPECT_FALSE(client->NewVersion());
    ASSERT_EQ(LinesAt(kZelkError).size(), 1u);
    EXPECT_EQ(LinesAt(kZelkError)[0].Message, "Tintavo Update self check : Server error (23)");
}

TEST_F(ZelkLite, FollowsARedirectChainWithTheHostOfEveryHop) {
    LoopbackServer last([](const std::string&) { return LoopbackServer::Reply("200 OK", "1.9"); });
    const std::string lastBase = last.base();
    LoopbackServer middle([&lastBase](const std::string&) {
        return LoopbackServer::Reply("301 Moved Permanently", "",
                                     "Location: " + lastBase + "/final\r\n");
    });
    const std::string middleBase = middle.base();
    LoopbackServer first([&middleBase](const std::string&) {
        return LoopbackServer::Reply("302 Found", "", "Location: " + middleBase + "/next\r\n");
    });
    const auto client = Check(first.base());
    EXPECT_TRUE(client->NewVersion());
    ASSERT_EQ(middle.requests().size(), 1u);
    ASSERT_EQ(last.requests().size(), 1u);
    EXPECT_EQ(middle.requests()[0], "GET /next HTTP/1.1\r\n" + kProfileLines + "Host: 127.0.0.1:" +
                                        std::to_string(middle.port()) + "\r\n\r\n");
    EXPECT_EQ(last.requests()[0], "GET /final HTTP/1.1\r\n" + kProfileLines + "Host: 127.0.0.1:" +
                                      std::to_string(last.port()) + "\r\n\r\n");
}

TEST_F(ZelkLite, RedirectsStopAfterFiveHopsAndOutsideHttp) {
    int hops = 0;
    LoopbackServer loop([&hops](const std::string&) {
        ++hops;
        return LoopbackServer::Reply("302 Found", "",
                                     "Location: /again" + std::to_string(hops) + "\r\n");
    });
    Check(loop.base());
    EXPECT_EQ(loop.requests().size(), 6u); // the request and five redirects
    ASSERT_EQ(LinesAt(kZelkError).size(), 1u);
    EXPECT_EQ(LinesAt(kZelkError)[0].Message, "Tintavo Update self check : Server error (47)");

    log_.clear();
    LoopbackServer toFtp([](const std::string&) {
        return LoopbackServer::Reply("302 Found", "", "Location: ftp://127.0.0.1/v\r\n");
    });
    const auto client = Check(toFtp.base());
    EXPECT_FALSE(client->ReplyValid());
    EXPECT_EQ(LinesAt(kZelkError).size(), 1u);
}

TEST_F(ZelkLite, HttpsWithATrustedCertificate) {
    LoopbackServer server(
        [](const std::string&) { return LoopbackServer::Reply("200 OK", "1.8.0.17"); },
        Data("server.pem"), Data("server.key"));
    const auto client = Check(server.base(), [](TZelkLite& c) { c.SetCaFile(Data("ca.pem")); });
    EXPECT_TRUE(client->NewVersion()) << (log_.empty() ? "" : log_.back().Message);
    EXPECT_TRUE(client->RequestUrl().starts_with("https://"));
    ASSERT_EQ(server.requests().size(), 1u);
    EXPECT_EQ(server.requests()[0], "GET " + kQuery + " HTTP/1.1\r\n" + kProfileLines +
                                        "Host: 127.0.0.1:" + std::to_string(server.port()) +
                                        "\r\n\r\n");
}

TEST_F(ZelkLite, HttpsWithAnUntrustedCertificateFails) {
    LoopbackServer server([](const std::string&) { return LoopbackServer::Reply("200 OK", "9.0"); },
                          Data("untrusted.pem"), Data("untrusted.key"));
    const auto client = Check(server.base(), [](TZelkLite& c) { c.SetCaFile(Data("ca.pem")); });
    EXPECT_FALSE(client->NewVersion());
    EXPECT_FALSE(client->ReplyValid());
    const auto errors = LinesAt(kZelkError);
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0].Message, "Tintavo Update self check : Server error (60)");
}

TEST_F(ZelkLite, WithoutTlsTheCheckGoesOverPlainHttp) {
    SetSslForcedUnavailable(true);
    LoopbackServer server(
        [](const std::string&) { return LoopbackServer::Reply("200 OK", "1.8.0.16"); });
    const std::string https = "https" + server.base().substr(4);
    const auto client = Check(https);
    SetSslForcedUnavailable(false);
    EXPECT_TRUE(client->ReplyValid());
    EXPECT_EQ(client->RequestUrl(), server.base() + kQuery);
    const auto verbose = LinesAt(kZelkVerbose);
    ASSERT_EQ(verbose.size(), 1u);
    EXPECT_EQ(verbose[0].Message, "ZelkLite : No SSL / Back to HTTP");
}

TEST_F(ZelkLite, ACheckThatCannotBePreparedEndsAsFailed) {
    const auto client = Check("", [](TZelkLite& c) {
        c.SetWebSiteLookup([]() -> std::string { throw std::runtime_error("no settings"); });
    });
    EXPECT_FALSE(client->Busy());
    ASSERT_EQ(LinesAt(kZelkError).size(), 1u);
    EXPECT_EQ(LinesAt(kZelkError)[0].Message, "Tintavo Update self check : Server error (2)");
}

TEST_F(ZelkLite, DestructionAbandonsARunningCheckWithoutCallback) {
    LoopbackServer server([](const std::string&) { return std::nullopt; });
    bool called = false;
    {
        auto client = MakeClient(server.base());
        client->Start(test::OwnExecutable(), [&called](TZelkLite&) { called = true; });
        // Wait until the request is on the wire, then let the client go.
        const auto deadline = std::chrono::steady_clock::now() + 3s;
        while (server.requests().empty() && std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(5ms);
        }
        ASSERT_EQ(server.requests().size(), 1u);
        const auto started = std::chrono::steady_clock::now();
        client.reset();
        EXPECT_LT(std::chrono::steady_clock::now() - started, 1s);
    }
    poster_.DrainUntil([] { return false; }, 200ms);
    EXPECT_FALSE(called);
}

TEST_F(ZelkLite, ANewStartAbandonsTheRunningCheck) {
    LoopbackServer silent([](const std::string&) { return std::nullopt; });
    LoopbackServer answering(
        [](const std::string&) { return LoopbackServer::Reply("200 OK", "1.9"); });
    auto client = MakeClient(silent.base());
    int calls = 0;
    client->Start(test::OwnExecutable(), [&calls](TZelkLite&) { ++calls; });
    client->SetWebSiteLookup([base = answering.base()] { return base; });
    client->Start(test::OwnExecutable(), [&calls](TZelkLite&) { ++calls; });
    EXPECT_TRUE(poster_.DrainUntil([&calls] { return calls > 0; }));
    poster_.DrainUntil([] { return false; }, 200ms);
    EXPECT_EQ(calls, 1);
    EXPECT_TRUE(client->NewVersion());
}

TEST_F(ZelkLite, TheProductKeysWebSiteSettingLeadsTheCheck) {
    EXPECT_EQ(MakerWebSite(), "https://www.orvane.example");
    LoopbackServer server(
        [](const std::string&) { return LoopbackServer::Reply("200 OK", "1.8.0.17"); });
    ASSERT_TRUE(platform::RegCreateKey(ProductKeyPath("Tintavo")));
    ASSERT_TRUE(platform::RegSetValue(ProductKeyPath("Tintavo"),
                                      platform::RegValue::String("WebSite", server.base())));
    EXPECT_EQ(MakerWebSite(), server.base());

    TZelkLite client([](const std::string&, int) {}, "Tintavo", poster_);
    bool done = false;
    client.Start(test::OwnExecutable(), [&done](TZelkLite&) { done = true; });
    EXPECT_TRUE(poster_.DrainUntil([&done] { return done; }));
    EXPECT_EQ(server.requests().size(), 1u);
    EXPECT_TRUE(client.NewVersion());
}

TEST_F(ZelkLite, TheCompletionMayStartTheNextCheck) {
    LoopbackServer server(
        [](const std::string&) { return LoopbackServer::Reply("200 OK", "1.8.0.16"); });
    auto client = MakeClient(server.base());
    int calls = 0;
    std::function<void(TZelkLite&)> onDone = [&](TZelkLite& sender) {
        if (++calls == 1) {
            sender.Start(test::OwnExecutable(), onDone);
        }
    };
    client->Start(test::OwnExecutable(), onDone);
    EXPECT_TRUE(poster_.DrainUntil([&calls] { return calls == 2; }));
    EXPECT_EQ(server.requests().size(), 2u);
    EXPECT_TRUE(client->ReplyValid());
}

TEST(ZelkUrl, EncodesTheQueryValues) {
    EXPECT_EQ(UrlEncode("Foo Bar & Co"), "Foo%20Bar%20%26%20Co");
    EXPECT_EQ(UrlEncode("a-b.c_d"), "a-b.c_d");
    EXPECT_EQ(UrlEncode("~"), "%7E");
    EXPECT_EQ(UrlEncode("\xE9"), "%E9");
    EXPECT_EQ(UrlEncode("\xC3\xA9"), "%C3%A9"); // bytes are taken as they are
    EXPECT_EQ(BuildCheckUrl("https://www.orvane.example/", "Tintavo", "Orvane", "65544", "16"),
              "https://www.orvane.example" + kQuery);
    EXPECT_EQ(DownloadPageUrl("https://www.orvane.example"),
              "https://www.orvane.example/?download");
    EXPECT_EQ(DownloadPageUrl("http://127.0.0.1:8080/"), "http://127.0.0.1:8080/?download");
}

} // namespace
} // namespace tintavo
