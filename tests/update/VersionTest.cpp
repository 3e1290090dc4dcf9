#include <gtest/gtest.h>

#include "update/U_Version.h"

namespace tintavo {
namespace {

struct Parsed {
    const char* text;
    int major, minor, release, build;
};

TEST(ZelkVersion, ParsesTextsAsTheUpdateServiceAndResourcesWriteThem) {
    const Parsed cases[] = {
        {"1.8.0.16", 1, 8, 0, 16},
        {"", 0, 0, 0, 0},
        {"2", 2, 0, 0, 0},
        {"1.2", 1, 2, 0, 0},
        {"1.2.3.4.5", 1, 2, 3, 0},    // the fourth field takes the rest, dots included
        {"1.2.3.4\n", 1, 2, 3, 0},    // a trailing line break loses the build number
        {"1.8.0.17\r\n", 1, 8, 0, 0}, // as a reply body often ends
        {"1.2.3.4 ", 1, 2, 3, 0},     // trailing blank
        {" 7.1", 7, 1, 0, 0},         // leading blank accepted
        {"\t7.1", 0, 1, 0, 0},        // a tab is no blank
        {"1.70000.0.1", 1, 0, 0, 1},  // above 65535 becomes 0
        {"70000.0.0.0", 0, 0, 0, 0},
        {"V1.2", 0, 2, 0, 0},
        {"-1.5.0.0", -1, 5, 0, 0},
        {"+3.$1F.x10.0x0A", 3, 31, 16, 10},
        {"1..3.4", 1, 0, 3, 4},
        {"99999999999.1", 0, 1, 0, 0}, // does not fit 32 bits
        {"<html>", 0, 0, 0, 0},
    };
    for (const Parsed& c : cases) {
        SCOPED_TRACE(std::string("text: \"") + c.text + "\"");
        const TZelkVersion v(c.text);
        EXPECT_EQ(v.Major, c.major);
        EXPECT_EQ(v.Minor, c.minor);
        EXPECT_EQ(v.Release, c.release);
        EXPECT_EQ(v.Build, c.build);
    }
}

TEST(ZelkVersion, PrintsAndPacksLikeAFixedFileVersion) {
    const TZelkVersion own("1.8.0.16");
    EXPECT_EQ(own.AsText(), "1.8.0.16");
    EXPECT_EQ(own.HighValue(), 65544u);
    EXPECT_EQ(own.LowValue(), 16u);
    EXPECT_EQ(own.HighText(), "65544");
    EXPECT_EQ(own.LowText(), "16");
    EXPECT_TRUE(own.IsSet());

    const TZelkVersion top("65535.65535.65535.65535");
    EXPECT_EQ(top.HighValue(), 4294967295u);
    EXPECT_EQ(top.HighText(), "4294967295");
    EXPECT_EQ(top.LowText(), "4294967295");

    const TZelkVersion negative("-1.5.0.0");
    EXPECT_EQ(negative.AsText(), "-1.5.0.0");
    EXPECT_EQ(negative.HighValue(), 4294901765u);
}

TEST(ZelkVersion, IsSetOnlyWhenTheFieldsAddUpAboveZero) {
    EXPECT_FALSE(TZelkVersion("").IsSet());
    EXPECT_FALSE(TZelkVersion("0.0.0.0").IsSet());
    EXPECT_FALSE(TZelkVersion("1.0.0.-1").IsSet());
    EXPECT_TRUE(TZelkVersion("0.0.0.1").IsSet());
}

TEST(ZelkVersion, TheTwoComparisonsDifferInSignedness) {
    EXPECT_TRUE(TZelkVersion("1.10.0.0").NewerThan(TZelkVersion("1.9.9.9")));
    EXPECT_FALSE(TZelkVersion("1.9.9.9").NewerThan(TZelkVersion("1.10.0.0")));
    EXPECT_FALSE(TZelkVersion("1.8.0.16").NewerThan(TZelkVersion("1.8.0.16")));

    const TZelkVersion own("1.8.0.16");
    EXPECT_TRUE(TZelkVersion("1.8.0.17").NewerThanValues(own.HighValue(), own.LowValue()));
    EXPECT_TRUE(TZelkVersion("1.9").NewerThanValues(own.HighValue(), own.LowValue()));
    EXPECT_FALSE(TZelkVersion("1.8.0.16").NewerThanValues(own.HighValue(), own.LowValue()));
    EXPECT_FALSE(TZelkVersion("1.8.0.0").NewerThanValues(own.HighValue(), own.LowValue()));

    const TZelkVersion negative("-1.5.0.0");
    EXPECT_FALSE(negative.NewerThan(TZelkVersion("0.0.0.1")));
    const TZelkVersion nearTop("65534.65535.65535.65535");
    EXPECT_TRUE(negative.NewerThanValues(nearTop.HighValue(), nearTop.LowValue()));
}

} // namespace
} // namespace tintavo
