#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "platform/AsciiText.h"

// Small text rules shared by the version reader and the product identification. Texts are
// 8-bit (UTF-8 on this system); case is folded for ASCII letters only.
namespace tintavo::text {

// Reads a whole field as a 32-bit signed integer: optional leading blanks, an optional sign,
// then decimal digits or a hexadecimal number introduced by "$", "x" or "0x". Anything left
// over, an empty field or a value outside the 32-bit range gives no value.
std::optional<std::int32_t> ToInt32(std::string_view text);
inline std::int32_t ToInt32Def(std::string_view text, std::int32_t fallback) {
    return ToInt32(text).value_or(fallback);
}

// Removes blanks and control characters at both ends.
std::string Trim(std::string_view text);

using platform::EndsNoCase;
using platform::EqualsNoCase;
using platform::Lower;
using platform::StartsNoCase;
// Position of the first occurrence, ignoring case, from `from`; npos when absent.
std::size_t FindNoCase(std::string_view text, std::string_view what, std::size_t from = 0);
bool ContainsNoCase(std::string_view text, std::string_view what);

// The text split on a set of separator characters: one more part than separators, and no
// part at all for the empty text.
std::size_t PartCount(std::string_view text, std::string_view separators);
// Part k counted from 0; empty when there is no such part.
std::string Part(std::string_view text, std::string_view separators, std::size_t k);
// The last part; empty for the empty text.
std::string LastPart(std::string_view text, std::string_view separators);

// Replaces every occurrence of `from` by `to`.
std::string ReplaceAll(std::string_view text, std::string_view from, std::string_view to);

// When the text begins (ends) with `affix`, ignoring case, keeps only the rest, trimmed.
std::string RemoveBeginning(std::string_view text, std::string_view affix);
std::string RemoveEnding(std::string_view text, std::string_view affix);

} // namespace tintavo::text
