#include "update/TextRules.h"

#include "platform/AsciiText.h"

#include <algorithm>
#include <limits>

namespace tintavo::text {

namespace {

bool IsTrimmed(char c) {
    return static_cast<unsigned char>(c) <= ' ';
}

} // namespace

std::optional<std::int32_t> ToInt32(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size() && text[i] == ' ') {
        ++i;
    }
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    int base = 10;
    if (i < text.size() && (text[i] == '$' || platform::AsciiLower(text[i]) == 'x')) {
        base = 16;
        ++i;
    } else if (i + 1 < text.size() && text[i] == '0' && platform::AsciiLower(text[i + 1]) == 'x') {
        base = 16;
        i += 2;
    }
    if (i == text.size()) {
        return std::nullopt;
    }
    // The magnitude may reach 2^31 for the one negative value that has no positive twin.
    constexpr std::int64_t limit = std::int64_t{std::numeric_limits<std::int32_t>::max()} + 1;
    std::int64_t value = 0;
    for (; i < text.size(); ++i) {
        const int digit = base == 16 ? platform::HexDigit(text[i])
                                     : ((text[i] >= '0' && text[i] <= '9') ? text[i] - '0' : -1);
        if (digit < 0) {
            return std::nullopt;
        }
        value = value * base + digit;
        if (value > limit) {
            return std::nullopt;
        }
    }
    if (negative) {
        value = -value;
    }
    if (value > std::numeric_limits<std::int32_t>::max()) {
        return std::nullopt;
    }
    return static_cast<std::int32_t>(value);
}

std::string Trim(std::string_view text) {
    std::size_t b = 0;
    std::size_t e = text.size();
    while (b < e && IsTrimmed(text[b])) {
        ++b;
    }
    while (e > b && IsTrimmed(text[e - 1])) {
        --e;
    }
    return std::string(text.substr(b, e - b));
}

std::size_t FindNoCase(std::string_view text, std::string_view what, std::size_t from) {
    if (what.size() > text.size()) {
        return std::string_view::npos;
    }
    for (std::size_t i = from; i + what.size() <= text.size(); ++i) {
        if (EqualsNoCase(text.substr(i, what.size()), what)) {
            return i;
        }
    }
    return std::string_view::npos;
}

bool ContainsNoCase(std::string_view text, std::string_view what) {
    return FindNoCase(text, what) != std::string_view::npos;
}

std::size_t PartCount(std::string_view text, std::string_view separators) {
    if (text.empty()) {
        return 0;
    }
    return 1 + static_cast<std::size_t>(std::count_if(text.begin(), text.end(), [&](char c) {
               return separators.find(c) != std::string_view::npos;
           }));
}

std::string Part(std::string_view text, std::string_view separators, std::size_t k) {
    std::size_t start = 0;
    for (std::size_t n = 0; n < k; ++n) {
        const std::size_t sep = text.find_first_of(separators, start);
        if (sep == std::string_view::npos) {
            return {};
        }
        start = sep + 1;
    }
    const std::size_t end = text.find_first_of(separators, start);
    return std::string(text.substr(start, end == std::string_view::npos ? end : end - start));
}

std::string LastPart(std::string_view text, std::string_view separators) {
    const std::size_t sep = text.find_last_of(separators);
    return std::string(sep == std::string_view::npos ? text : text.substr(sep + 1));
}

std::string ReplaceAll(std::string_view text, std::string_view from, std::string_view to) {
    std::string out;
    std::size_t pos = 0;
    while (!from.empty()) {
        const std::size_t hit = text.find(from, pos);
        if (hit == std::string_view::npos) {
            break;
        }
        out.append(text.substr(pos, hit - pos)).append(to);
        pos = hit + from.size();
    }
    out.append(text.substr(pos));
    return out;
}

std::string RemoveBeginning(std::string_view text, std::string_view affix) {
    if (StartsNoCase(text, affix)) {
        return Trim(text.substr(affix.size()));
    }
    return std::string(text);
}

std::string RemoveEnding(std::string_view text, std::string_view affix) {
    if (EndsNoCase(text, affix)) {
        return Trim(text.substr(0, text.size() - affix.size()));
    }
    return std::string(text);
}

} // namespace tintavo::text
