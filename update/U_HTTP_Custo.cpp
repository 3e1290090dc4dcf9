#include "update/U_HTTP_Custo.h"

#include "update/TextRules.h"

#include <atomic>
#include <mutex>

namespace tintavo {

namespace {

std::atomic<bool> gSslForcedOff{false};

struct CurlUrlDeleter {
    void operator()(CURLU* url) const { curl_url_cleanup(url); }
};

std::optional<std::string> UrlPart(CURLU* url, CURLUPart part) {
    char* value = nullptr;
    if (curl_url_get(url, part, &value, 0) != CURLUE_OK || value == nullptr) {
        return std::nullopt;
    }
    std::string out(value);
    curl_free(value);
    return out;
}

} // namespace

void EnsureCurlInitialized() {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

CURL* ApplyHttpProfile(CURL* client) {
    curl_easy_setopt(client, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_1));
    curl_easy_setopt(client, CURLOPT_TIMEOUT_MS, static_cast<long>(THttpProfile::Timeout.count()));
    curl_easy_setopt(client, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(client, CURLOPT_FOLLOWLOCATION, 0L);
    curl_easy_setopt(client, CURLOPT_NOSIGNAL, 1L);
    // No content coding, cookie, referrer or credentials: libcurl adds none of these unless
    // asked. The user agent travels as a header line of its own, in its place.
    curl_easy_setopt(client, CURLOPT_USERAGENT, nullptr);
    return client;
}

std::vector<std::string> ProfileHeaderLines(const std::string& url) {
    const std::unique_ptr<CURLU, CurlUrlDeleter> parsed(curl_url());
    if (!parsed || curl_url_set(parsed.get(), CURLUPART_URL, url.c_str(), 0) != CURLUE_OK) {
        return {};
    }
    const auto host = UrlPart(parsed.get(), CURLUPART_HOST);
    if (!host) {
        return {};
    }
    std::string hostLine = "Host: " + *host;
    // Only a port the URL names itself, and not one of the two usual ones.
    if (const auto port = UrlPart(parsed.get(), CURLUPART_PORT);
        port && *port != "80" && *port != "443") {
        hostLine += ":" + *port;
    }
    return {"Accept: " + std::string(THttpProfile::Accept),
            "Accept-Language: " + std::string(THttpProfile::AcceptLanguage),
            "User-Agent: " + std::string(THttpProfile::UserAgent), hostLine};
}

CurlHeaderList ProfileHeaderList(const std::string& url) {
    const std::vector<std::string> lines = ProfileHeaderLines(url);
    if (lines.empty()) {
        return nullptr;
    }
    CurlHeaderList list;
    const auto append = [&list](const std::string& line) {
        curl_slist* grown = curl_slist_append(list.get(), line.c_str());
        if (grown == nullptr) {
            return false;
        }
        static_cast<void>(list.release());
        list.reset(grown);
        return true;
    };
    // An empty "Host:" first drops libcurl's own Host line, which it would send right after
    // the request line; the profile's Host line then goes out last, in list order.
    if (!append("Host:")) {
        return nullptr;
    }
    for (const std::string& line : lines) {
        if (!append(line)) {
            return nullptr;
        }
    }
    return list;
}

std::string ChooseUrlScheme(const std::string& url) {
    if (text::StartsNoCase(url, "https") && !SslAvailable()) {
        return "http" + text::Trim(std::string_view(url).substr(5));
    }
    return url;
}

bool SslAvailable() {
    if (gSslForcedOff.load()) {
        return false;
    }
    EnsureCurlInitialized();
    const curl_version_info_data* info = curl_version_info(CURLVERSION_NOW);
    return info != nullptr && (info->features & CURL_VERSION_SSL) != 0 &&
           info->ssl_version != nullptr;
}

void SetSslForcedUnavailable(bool unavailable) {
    gSslForcedOff.store(unavailable);
}

} // namespace tintavo
