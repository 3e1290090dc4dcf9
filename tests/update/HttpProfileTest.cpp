#include <gtest/gtest.h>

#include "update/U_HTTP_Custo.h"

namespace tintavo {
namespace {

// Restores the TLS switch whatever the test does.
struct TlsSwitch {
    explicit TlsSwitch(bool unavailable) { SetSslForcedUnavailable(unavailable); }
    ~TlsSwitch() { SetSslForcedUnavailable(false); }
};

TEST(HttpProfile, SchemeFallsBackToHttpOnlyWhenTlsIsUnavailable) {
    {
        const TlsSwitch off(true);
        EXPECT_FALSE(SslAvailable());
        EXPECT_EQ(ChooseUrlScheme("HTTPS://Host/x"), "http://Host/x");
        EXPECT_EQ(ChooseUrlScheme("https://host/x?a=1 \r\n"), "http://host/x?a=1");
        EXPECT_EQ(ChooseUrlScheme("http://host/x"), "http://host/x");
    }
    EXPECT_TRUE(SslAvailable()); // this build's libcurl has a TLS backend
    EXPECT_EQ(ChooseUrlScheme("https://host/x"), "https://host/x");
    EXPECT_EQ(ChooseUrlScheme("http://host/x"), "http://host/x");
}

TEST(HttpProfile, HeaderLinesInTheirFixedOrder) {
    const std::vector<std::string> lines = ProfileHeaderLines("https://www.orvane.example/a?b=c");
    const std::vector<std::string> expected = {
        "Accept: text/html,application/xhtml+xml,application/xml;q=0.9,*/*;q=0.8",
        "Accept-Language: fr,fr-fr;q=0.8,en-us;q=0.5,en;q=0.3", "User-Agent: Mozilla/5.0",
        "Host: www.orvane.example"};
    EXPECT_EQ(lines, expected);
}

TEST(HttpProfile, HostCarriesOnlyAnUnusualPort) {
    EXPECT_EQ(ProfileHeaderLines("http://h.example:80/").back(), "Host: h.example");
    EXPECT_EQ(ProfileHeaderLines("https://h.example:443/").back(), "Host: h.example");
    EXPECT_EQ(ProfileHeaderLines("http://h.example:443/").back(), "Host: h.example");
    EXPECT_EQ(ProfileHeaderLines("http://h.example:8080/x").back(), "Host: h.example:8080");
    EXPECT_EQ(ProfileHeaderLines("http://[::1]:81/").back(), "Host: [::1]:81");
    EXPECT_TRUE(ProfileHeaderLines("no address").empty());
}

} // namespace
} // namespace tintavo
