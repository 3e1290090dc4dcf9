#include "update/U_Zelk_Lite.h"

#include "platform/Registry.h"
#include "services/U_TovikUtils.h"
#include "update/TextRules.h"
#include "update/U_HTTP_Custo.h"
#include "update/U_Version.h"
#include "update/U_ZelkFct.h"

#include <array>
#include <atomic>
#include <cstdio>

namespace tintavo {

namespace {

using Clock = std::chrono::steady_clock;

// A reply larger than this is no version number; it is not collected further.
constexpr std::size_t kMaxReply = 1 << 20;

std::uint32_t TickCount() {
    return static_cast<std::uint32_t>(
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now().time_since_epoch())
            .count());
}

struct HopState {
    std::string Body;
    std::string Reason;
};

std::size_t WriteBody(char* data, std::size_t size, std::size_t count, void* user) {
    auto* state = static_cast<HopState*>(user);
    const std::size_t bytes = size * count;
    if (state->Body.size() + bytes > kMaxReply) {
        return 0; // ends the transfer with a write error
    }
    state->Body.append(data, bytes);
    return bytes;
}

// Keeps the reason phrase of the status line ("HTTP/1.1 404 Not Found" gives "Not Found").
std::size_t ReadHeader(char* data, std::size_t size, std::size_t count, void* user) {
    auto* state = static_cast<HopState*>(user);
    const std::size_t bytes = size * count;
    const std::string_view line(data, bytes);
    if (line.starts_with("HTTP/")) {
        const std::size_t first = line.find(' ');
        const std::size_t second =
            first == std::string_view::npos ? first : line.find(' ', first + 1);
        state->Reason =
            second == std::string_view::npos ? std::string() : text::Trim(line.substr(second + 1));
    }
    return bytes;
}

} // namespace

// One check's transfer, shared by the client and its worker thread.
struct TZelkLite::Exchange {
    Exchange() : Multi(curl_multi_init()), Easy(curl_easy_init()) {}
    ~Exchange() {
        if (Multi != nullptr) {
            curl_multi_cleanup(Multi);
        }
    }
    Exchange(const Exchange&) = delete;
    Exchange& operator=(const Exchange&) = delete;

    // Stops the transfer soon; safe from any thread while the exchange lives.
    void Cancel() {
        Cancelled.store(true);
        curl_multi_wakeup(Multi);
    }

    // One GET, no redirect followed. Returns the libcurl result.
    CURLcode Transfer(const std::string& url, HopState& hop, long& status, std::string& redirect) {
        const CurlHeaderList headers = ProfileHeaderList(url);
        const auto remaining =
            std::chrono::duration_cast<std::chrono::milliseconds>(Deadline - Clock::now());
        if (!headers) {
            return CURLE_URL_MALFORMAT;
        }
        if (remaining.count() <= 0) {
            return CURLE_OPERATION_TIMEDOUT;
        }
        CURL* easy = Easy.get();
        curl_easy_setopt(easy, CURLOPT_URL, url.c_str());
        curl_easy_setopt(easy, CURLOPT_HTTPHEADER, headers.get());
        curl_easy_setopt(easy, CURLOPT_TIMEOUT_MS, static_cast<long>(remaining.count()));
        curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, WriteBody);
        curl_easy_setopt(easy, CURLOPT_WRITEDATA, &hop);
        curl_easy_setopt(easy, CURLOPT_HEADERFUNCTION, ReadHeader);
        curl_easy_setopt(easy, CURLOPT_HEADERDATA, &hop);
        if (curl_multi_add_handle(Multi, easy) != CURLM_OK) {
            return CURLE_FAILED_INIT;
        }
        CURLcode result = CURLE_OPERATION_TIMEDOUT;
        bool finished = false;
        while (!finished && !Cancelled.load() && Clock::now() < Deadline) {
            int running = 0;
            if (curl_multi_perform(Multi, &running) != CURLM_OK) {
                result = CURLE_FAILED_INIT;
                break;
            }
            int queued = 0;
            while (CURLMsg* message = curl_multi_info_read(Multi, &queued)) {
                if (message->msg == CURLMSG_DONE && message->easy_handle == easy) {
                    result = message->data.result;
                    finished = true;
                }
            }
            if (!finished) {
                curl_multi_poll(Multi, nullptr, 0, 200, nullptr);
            }
        }
        curl_multi_remove_handle(Multi, easy);
        curl_easy_setopt(easy, CURLOPT_HTTPHEADER, nullptr);
        if (result == CURLE_OK) {
            curl_easy_getinfo(easy, CURLINFO_RESPONSE_CODE, &status);
            char* location = nullptr;
            curl_easy_getinfo(easy, CURLINFO_REDIRECT_URL, &location);
            redirect = location != nullptr ? location : "";
        }
        return result;
    }

    // The whole check: the GET and the redirects it is sent on, within the deadline.
    THttpOutcome Run() {
        std::string url = Url;
        for (int hops = 0;; ++hops) {
            HopState hop;
            long status = 0;
            std::string redirect;
            const CURLcode result = Transfer(url, hop, status, redirect);
            if (result != CURLE_OK) {
                return {static_cast<int>(result), {}, {}};
            }
            if (status < 300 || status > 399 || redirect.empty()) {
                return {0, std::move(hop.Body), std::move(hop.Reason)};
            }
            if (hops >= THttpProfile::MaxRedirects) {
                return {static_cast<int>(CURLE_TOO_MANY_REDIRECTS), {}, {}};
            }
            if (!text::StartsNoCase(redirect, "http://") &&
                !text::StartsNoCase(redirect, "https://")) {
                return {static_cast<int>(CURLE_UNSUPPORTED_PROTOCOL), {}, {}};
            }
            url = ChooseUrlScheme(redirect);
        }
    }

    std::atomic<bool> Cancelled{false};
    CURLM* Multi;
    CurlEasy Easy;
    std::string Url;
    Clock::time_point Deadline;
};

std::string UrlEncode(std::string_view text) {
    std::string out;
    for (const char c : text) {
        const auto b = static_cast<unsigned char>(c);
        if ((b >= 'A' && b <= 'Z') || (b >= 'a' && b <= 'z') || (b >= '0' && b <= '9') ||
            b == '-' || b == '.' || b == '_') {
            out.push_back(c);
        } else if (b == ' ') {
            out += "%20";
        } else {
            std::array<char, 4> hex{};
            std::snprintf(hex.data(), hex.size(), "%%%02X", b);
            out += hex.data();
        }
    }
    return out;
}

std::string MakerWebSite(const std::string& title) {
    const auto setting =
        platform::RegReadValue(platform::RegRoot::CurrentUser, ProductKeyPath(title), "WebSite");
    if (setting &&
        (setting->type == platform::REG_SZ || setting->type == platform::REG_EXPAND_SZ)) {
        std::string base = SiteAddress(text::Trim(setting->data), "");
        if (!base.empty()) {
            return base;
        }
    }
    return std::string(kMakerWebSite);
}

std::string SiteAddress(std::string_view base, std::string_view path) {
    while (base.ends_with('/')) {
        base.remove_suffix(1);
    }
    return std::string(base) + std::string(path);
}

std::string DownloadPageUrl(std::string_view base) {
    return SiteAddress(base, "/?download");
}

std::string BuildCheckUrl(std::string_view base, std::string_view product, std::string_view company,
                          std::string_view highText, std::string_view lowText) {
    return SiteAddress(base, "/zelk/check.php?uid=0&ProductName=" + UrlEncode(product) +
                                 "&Company=" + UrlEncode(company) + "&VH=" + std::string(highText) +
                                 "&VL=" + std::string(lowText));
}

TZelkLite::TZelkLite(TZelkLogSink log, std::string title, IZelkPoster& poster)
    : log_(std::move(log)), logTitle_(std::move(title)), poster_(poster),
      webSite_([this] { return MakerWebSite(logTitle_); }),
      token_(std::make_shared<Token>(Token{this})) {}

TZelkLite::~TZelkLite() {
    onDone_ = nullptr;
    token_.reset(); // completions already posted find no client
    Abandon();
}

void TZelkLite::Log(const std::string& message, int level) const {
    if (log_) {
        log_(message, level);
    }
}

void TZelkLite::Abandon() {
    if (exchange_) {
        exchange_->Cancel();
    }
    if (worker_.joinable()) {
        worker_.join();
    }
    exchange_.reset();
}

void TZelkLite::ApplyConnectionOptions(void* easy) const {
    if (UseProxy) {
        curl_easy_setopt(easy, CURLOPT_PROXY, ProxyHost.c_str());
        curl_easy_setopt(easy, CURLOPT_PROXYPORT, static_cast<long>(ProxyPort));
        curl_easy_setopt(easy, CURLOPT_PROXYUSERNAME, ProxyUser.c_str());
        curl_easy_setopt(easy, CURLOPT_PROXYPASSWORD, ProxyPassword.c_str());
    } else {
        // An empty proxy also keeps the environment's proxy variables out.
        curl_easy_setopt(easy, CURLOPT_PROXY, "");
    }
    // The server's certificate is verified, against the system's store unless a test
    // names its own authority.
    curl_easy_setopt(easy, CURLOPT_SSL_VERIFYPEER, 1L);
    curl_easy_setopt(easy, CURLOPT_SSL_VERIFYHOST, 2L);
    if (!caFile_.empty()) {
        curl_easy_setopt(easy, CURLOPT_CAINFO, caFile_.c_str());
        curl_easy_setopt(easy, CURLOPT_CAPATH, nullptr);
    }
}

void TZelkLite::StartWorker(const std::shared_ptr<Exchange>& exchange, std::uint64_t session) {
    worker_ =
        std::thread([exchange, &poster = poster_, token = std::weak_ptr<Token>(token_), session] {
            THttpOutcome outcome = exchange->Run();
            if (exchange->Cancelled.load()) {
                return;
            }
            try {
                poster.Post([token, session, outcome = std::move(outcome)] {
                    if (const auto alive = token.lock()) {
                        alive->Owner->Deliver(session, outcome);
                    }
                });
            } catch (...) {
                // Nowhere to deliver: the poster is gone or full.
            }
        });
}

void TZelkLite::Start(const std::string& executablePath, TDoneEvent onDone) {
    Abandon();
    ++session_;
    busy_ = true;
    newVersion_ = false;
    replyValid_ = false;
    Log(logTitle_ + " Update self check : Initialization", kZelkInfo);
    onDone_ = std::move(onDone);
    const std::uint64_t session = session_;
    try {
        const TDisplayedFileInfo info = GetDisplayedFileInfo(executablePath);
        const TZelkVersion version(GetProductVersion(executablePath));
        ownHigh_ = version.HighValue();
        ownLow_ = version.LowValue();
        const std::string url =
            BuildCheckUrl(webSite_ ? webSite_() : MakerWebSite(logTitle_), info.Product,
                          info.Company, version.HighText(), version.LowText());
        EnsureCurlInitialized();
        auto exchange = std::make_shared<Exchange>();
        if (exchange->Multi == nullptr || !exchange->Easy) {
            throw std::runtime_error("libcurl cannot be initialised");
        }
        ApplyConnectionOptions(ApplyHttpProfile(exchange->Easy.get()));
        requestUrl_ = ChooseUrlScheme(url);
        if (!text::EqualsNoCase(requestUrl_, url)) {
            Log("ZelkLite : No SSL / Back to HTTP", kZelkVerbose);
        }
        exchange->Url = requestUrl_;
        startTick_ = TickCount();
        exchange->Deadline = Clock::now() + timeLimit_;
        exchange_ = exchange;
        StartWorker(exchange, session);
    } catch (const std::exception&) {
        // The check could not be prepared or started: it ends as failed, so that a new one
        // can be made.
        exchange_.reset();
        poster_.Post([token = std::weak_ptr<Token>(token_), session] {
            if (const auto alive = token.lock()) {
                alive->Owner->Deliver(session, {static_cast<int>(CURLE_FAILED_INIT), {}, {}});
            }
        });
    }
}

void TZelkLite::Deliver(std::uint64_t session, const THttpOutcome& outcome) {
    if (session != session_ || !busy_) {
        return; // a check abandoned by a later start
    }
    if (worker_.joinable()) {
        worker_.join(); // it has nothing left to do but end
    }
    exchange_.reset();
    RequestDone(outcome);
}

void TZelkLite::RequestDone(const THttpOutcome& outcome) {
    if (outcome.ErrorCode != 0) {
        Log(logTitle_ + " Update self check : Server error (" + std::to_string(outcome.ErrorCode) +
                ")",
            kZelkError);
    } else {
        const TZelkVersion reply(outcome.Body);
        const auto elapsed = static_cast<std::int32_t>(TickCount() - startTick_);
        Log(logTitle_ + " Update self check : Server replied " + reply.AsText() + " in " +
                std::to_string(elapsed) + "ms",
            kZelkInfo);
        if (!reply.IsSet()) {
            Log(logTitle_ + " Update self check : Server error (0 Cause : " + outcome.ReasonPhrase +
                    ")",
                kZelkVerbose);
        }
        replyValid_ = reply.IsSet();
        newVersion_ = reply.NewerThanValues(ownHigh_, ownLow_);
    }
    busy_ = false;
    // A copy: the callback may start the next check, which replaces onDone_.
    const TDoneEvent done = onDone_;
    if (done) {
        done(*this);
    }
}

} // namespace tintavo
