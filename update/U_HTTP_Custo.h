#pragma once

#include <chrono>
#include <curl/curl.h>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// The program's fixed profile for outgoing HTTP requests, and its choice between "https" and
// "http". On the wire a GET made with the profile is exactly the request line, then Accept,
// Accept-Language, User-Agent and Host in that order, then the empty line.
namespace tintavo {

struct THttpProfile {
    static constexpr std::string_view UserAgent = "Mozilla/5.0";
    static constexpr std::string_view Accept =
        "text/html,application/xhtml+xml,application/xml;q=0.9,*/*;q=0.8";
    static constexpr std::string_view AcceptLanguage = "fr,fr-fr;q=0.8,en-us;q=0.5,en;q=0.3";
    // Bounds a request its caller waits for; an asynchronous check sets its own bound.
    static constexpr std::chrono::milliseconds Timeout{3000};
    static constexpr int MaxRedirects = 5;
};

struct CurlEasyDeleter {
    void operator()(CURL* handle) const { curl_easy_cleanup(handle); }
};
struct CurlListDeleter {
    void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};
using CurlEasy = std::unique_ptr<CURL, CurlEasyDeleter>;
using CurlHeaderList = std::unique_ptr<curl_slist, CurlListDeleter>;

// Initialises libcurl for the process once; safe to call from any thread.
void EnsureCurlInitialized();

// Sets the profile on a client: HTTP/1.1, the time-out, http and https only, no header of
// libcurl's own. Redirects are not followed by the client: the caller follows them, at most
// MaxRedirects, so that every hop carries its own Host line. Returns the same client.
CURL* ApplyHttpProfile(CURL* client);

// The header lines for a GET of `url`, in order; empty when the URL cannot be read. Host
// carries the port only when the URL names one other than 80 and 443.
std::vector<std::string> ProfileHeaderLines(const std::string& url);
// The same lines as a libcurl list, which replaces libcurl's own Host and Accept lines and
// keeps the order above.
CurlHeaderList ProfileHeaderList(const std::string& url);

// The URL unchanged, or, when it begins with "https" (ignoring case) and TLS cannot be used,
// "http" followed by the rest of it, trimmed.
std::string ChooseUrlScheme(const std::string& url);

// libcurl has a TLS backend and TLS has not been switched off.
bool SslAvailable();
// Test switch: makes SslAvailable report false (process-wide).
void SetSslForcedUnavailable(bool unavailable);

} // namespace tintavo
