#include "update/U_Version.h"

#include "update/TextRules.h"

#include <array>
#include <cstdio>

namespace tintavo {

namespace {

std::uint32_t Pack(std::int32_t high, std::int32_t low) {
    return static_cast<std::uint32_t>(high) * 65536u + static_cast<std::uint32_t>(low);
}

} // namespace

void TZelkVersion::SetText(std::string_view text) {
    std::string t(text);
    while (text::PartCount(t, ".") < 4) {
        t += ".0";
    }
    const std::size_t p1 = t.find('.');
    const std::size_t p2 = t.find('.', p1 + 1);
    const std::size_t p3 = t.find('.', p2 + 1);
    const std::array<std::string_view, 4> fields = {
        std::string_view(t).substr(0, p1), std::string_view(t).substr(p1 + 1, p2 - p1 - 1),
        std::string_view(t).substr(p2 + 1, p3 - p2 - 1), std::string_view(t).substr(p3 + 1)};
    std::array<std::int32_t, 4> values{};
    for (std::size_t i = 0; i < fields.size(); ++i) {
        values[i] = text::ToInt32Def(fields[i], 0);
        if (values[i] > 65535) {
            values[i] = 0;
        }
    }
    Major = values[0];
    Minor = values[1];
    Release = values[2];
    Build = values[3];
}

std::string TZelkVersion::AsText() const {
    std::array<char, 64> buffer{};
    std::snprintf(buffer.data(), buffer.size(), "%d.%d.%d.%d", Major, Minor, Release, Build);
    return buffer.data();
}

std::uint32_t TZelkVersion::HighValue() const {
    return Pack(Major, Minor);
}

std::uint32_t TZelkVersion::LowValue() const {
    return Pack(Release, Build);
}

bool TZelkVersion::IsSet() const {
    // Added as 32-bit values that wrap, without signed overflow.
    const std::uint32_t sum =
        static_cast<std::uint32_t>(Major) + static_cast<std::uint32_t>(Minor) +
        static_cast<std::uint32_t>(Release) + static_cast<std::uint32_t>(Build);
    return static_cast<std::int32_t>(sum) > 0;
}

bool TZelkVersion::NewerThan(const TZelkVersion& other) const {
    const std::array<std::int32_t, 4> mine = {Major, Minor, Release, Build};
    const std::array<std::int32_t, 4> theirs = {other.Major, other.Minor, other.Release,
                                                other.Build};
    for (std::size_t i = 0; i < mine.size(); ++i) {
        if (mine[i] != theirs[i]) {
            return mine[i] > theirs[i];
        }
    }
    return false;
}

bool TZelkVersion::NewerThanValues(std::uint32_t high, std::uint32_t low) const {
    if (HighValue() != high) {
        return HighValue() > high;
    }
    return LowValue() > low;
}

} // namespace tintavo
