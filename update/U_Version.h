#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace tintavo {

// A four-part version number major.minor.release.build.
//
// Parsing never fails: a field that cannot be read becomes 0, and a field above 65535 becomes
// 0 too; a field written with a minus sign stays negative. `IsSet` tells a real version from
// an unreadable one. The packed values are the two double words of a Windows fixed file
// version (major and release in the high words).
class TZelkVersion {
public:
    TZelkVersion() = default;
    explicit TZelkVersion(std::string_view text) { SetText(text); }
    virtual ~TZelkVersion() = default;
    TZelkVersion(const TZelkVersion&) = default;
    TZelkVersion& operator=(const TZelkVersion&) = default;

    // Fewer than four parts are completed with ".0"; the fourth field takes the whole rest
    // of the text, so "1.2.3.4.5" and "1.2.3.4\r\n" both lose their build number.
    void SetText(std::string_view text);

    // "%d.%d.%d.%d".
    std::string AsText() const;
    // Major * 65536 + Minor (and Release * 65536 + Build), wrapping in 32 bits.
    std::uint32_t HighValue() const;
    std::uint32_t LowValue() const;
    std::string HighText() const { return std::to_string(HighValue()); }
    std::string LowText() const { return std::to_string(LowValue()); }
    // The four fields add up (signed, 32 bits) to more than 0.
    bool IsSet() const;
    // Field by field, signed: a negative field is older than 0.
    bool NewerThan(const TZelkVersion& other) const;
    // On the packed values, unsigned: a negative field counts as a very large number.
    bool NewerThanValues(std::uint32_t high, std::uint32_t low) const;

    std::int32_t Major = 0;
    std::int32_t Minor = 0;
    std::int32_t Release = 0;
    std::int32_t Build = 0;
};

} // namespace tintavo
