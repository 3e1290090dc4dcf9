#pragma once

#include "platform/ProductIdentity.h"
#include "services/U_Log.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <thread>

// The self update check: asks the maker's web service for the newest version number of an
// executable and judges the reply.
namespace tintavo {

// Levels of the run log lines the client writes: the run log's own levels.
using TZelkLogLevel = LogLevel;
inline constexpr TZelkLogLevel kZelkVerbose = LogVerbose;
inline constexpr TZelkLogLevel kZelkInfo = LogInfo;
inline constexpr TZelkLogLevel kZelkError = LogError;
// Where the client's log lines go (message, level); the window hands the run log's Add.
using TZelkLogSink = std::function<void(const std::string& message, int level)>;

// Runs a task on the thread that started the check. The window posts into its event loop;
// Post may be called from any thread and must not run the task before returning.
class IZelkPoster {
public:
    virtual ~IZelkPoster() = default;
    virtual void Post(std::function<void()> task) = 0;
};

// The base address of the maker's web site: the string setting WebSite of the product key
// (the key named after the application title) when it holds one, else kMakerWebSite; without
// a trailing "/". Read anew at every call.
std::string MakerWebSite(const std::string& title = ApplicationTitle);
// An address on a web site: the path (beginning with "/") after the base without its
// trailing "/".
std::string SiteAddress(std::string_view base, std::string_view path);
// The download page: the web site's root with the query "?download".
std::string DownloadPageUrl(std::string_view base);

// Every byte outside A-Z, a-z, 0-9, "-", "." and "_" as "%" and two upper-case hexadecimal
// digits; a blank as "%20". The bytes are taken as they are (no re-encoding).
std::string UrlEncode(std::string_view text);

// The check's address: base (without trailing "/") + "/zelk/check.php?uid=0&ProductName=..."
// "&Company=...&VH=...&VL=...".
std::string BuildCheckUrl(std::string_view base, std::string_view product, std::string_view company,
                          std::string_view highText, std::string_view lowText);

// How an exchange ended: a libcurl error code (0 for success), the body and the reason phrase
// of the last status line.
struct THttpOutcome {
    int ErrorCode = 0;
    std::string Body;
    std::string ReasonPhrase;
};

class TZelkLite {
public:
    using TDoneEvent = std::function<void(TZelkLite& sender)>;
    // Gives the base address of the maker's web site at each start.
    using TWebSiteLookup = std::function<std::string()>;

    // `poster` must outlive the client. The title prefixes the client's log lines.
    TZelkLite(TZelkLogSink log, std::string title, IZelkPoster& poster);
    // Abandons a running check: no completion is delivered.
    virtual ~TZelkLite();
    TZelkLite(const TZelkLite&) = delete;
    TZelkLite& operator=(const TZelkLite&) = delete;

    // Starts a check of the given executable and returns at once. The outcome arrives
    // through the poster, as a call of `onDone` on the caller's thread; a check that cannot
    // be prepared or started, or does not end within the time limit, completes as failed.
    // A check still running is abandoned first.
    void Start(const std::string& executablePath, TDoneEvent onDone);
    // Judges an ended exchange, logs it, clears Busy and calls the completion callback.
    void RequestDone(const THttpOutcome& outcome);

    bool Busy() const { return busy_; }
    bool NewVersion() const { return newVersion_; }
    bool ReplyValid() const { return replyValid_; }
    std::uint32_t OwnHigh() const { return ownHigh_; }
    std::uint32_t OwnLow() const { return ownLow_; }
    // The address requested by the latest start, after the scheme choice.
    const std::string& RequestUrl() const { return requestUrl_; }

    // Where the base address comes from; MakerWebSite(title) by default.
    void SetWebSiteLookup(TWebSiteLookup lookup) { webSite_ = std::move(lookup); }
    // Trusts this CA file instead of the system's store (tests).
    void SetCaFile(std::string path) { caFile_ = std::move(path); }
    // Overall time limit of a check, 10 seconds unless changed.
    void SetTimeLimit(std::chrono::milliseconds limit) { timeLimit_ = limit; }

    // Proxy settings; unused unless UseProxy is set.
    bool UseProxy = false;
    int ProxyPort = 0;
    std::string ProxyHost;
    std::string ProxyUser;
    std::string ProxyPassword;

private:
    struct Exchange;
    struct Token {
        TZelkLite* Owner;
    };

    void Abandon();
    void Deliver(std::uint64_t session, const THttpOutcome& outcome);
    // The proxy and certificate options of the exchange's handle (a libcurl easy handle).
    void ApplyConnectionOptions(void* easy) const;
    // Runs the exchange on the worker thread; its outcome is posted back to Deliver.
    void StartWorker(const std::shared_ptr<Exchange>& exchange, std::uint64_t session);
    void Log(const std::string& message, int level) const;

    TZelkLogSink log_;
    std::string logTitle_;
    IZelkPoster& poster_;
    TDoneEvent onDone_;
    TWebSiteLookup webSite_;
    std::string caFile_;
    std::chrono::milliseconds timeLimit_{10000};
    bool busy_ = false;
    bool newVersion_ = false;
    bool replyValid_ = false;
    std::uint32_t ownHigh_ = 0;
    std::uint32_t ownLow_ = 0;
    std::uint32_t startTick_ = 0;
    std::string requestUrl_;
    std::uint64_t session_ = 0;
    std::shared_ptr<Token> token_;
    std::shared_ptr<Exchange> exchange_;
    std::thread worker_;
};

} // namespace tintavo
