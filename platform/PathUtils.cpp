#include "platform/PathUtils.h"

#include <cctype>
#include <cstdlib>

namespace tintavo::platform {

std::string IncludeTrailingPathDelimiter(std::string path) {
    if (path.empty() || path.back() != PathDelim()) {
        path += PathDelim();
    }
    return path;
}

std::string ExtractFilePath(const std::string& filePath) {
    const auto pos = filePath.rfind(PathDelim());
    return pos == std::string::npos ? std::string() : filePath.substr(0, pos + 1);
}

std::string ExtractFileName(const std::string& filePath) {
    const auto pos = filePath.rfind(PathDelim());
    return pos == std::string::npos ? filePath : filePath.substr(pos + 1);
}

std::string ExtractFileExt(const std::string& filePath) {
    const auto dot = filePath.rfind('.');
    const auto delimiter = filePath.rfind(PathDelim());
    if (dot == std::string::npos || (delimiter != std::string::npos && dot < delimiter)) {
        return {};
    }
    return filePath.substr(dot);
}

namespace {

bool IsNameStart(char c) {
    return std::isalpha(static_cast<unsigned char>(c)) != 0 || c == '_';
}

bool IsNameChar(char c) {
    return std::isalnum(static_cast<unsigned char>(c)) != 0 || c == '_';
}

// Appends the variable's value, or the reference itself when the variable is not set.
void AppendVariable(std::string& out, const std::string& name, const std::string& reference) {
    const char* value = name.empty() ? nullptr : std::getenv(name.c_str());
    out += value != nullptr ? std::string(value) : reference;
}

} // namespace

std::string ExpandEnvironmentReferences(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    std::size_t i = 0;
    while (i < text.size()) {
        const char c = text[i];
        if (c == '%') {
            const auto close = text.find('%', i + 1);
            if (close != std::string::npos && close > i + 1) {
                const std::string name = text.substr(i + 1, close - i - 1);
                if (name.find_first_of(" =") == std::string::npos) {
                    AppendVariable(out, name, text.substr(i, close - i + 1));
                    i = close + 1;
                    continue;
                }
            }
        } else if (c == '$' && i + 1 < text.size()) {
            if (text[i + 1] == '{') {
                const auto close = text.find('}', i + 2);
                if (close != std::string::npos && close > i + 2) {
                    AppendVariable(out, text.substr(i + 2, close - i - 2),
                                   text.substr(i, close - i + 1));
                    i = close + 1;
                    continue;
                }
            } else if (IsNameStart(text[i + 1])) {
                std::size_t end = i + 1;
                while (end < text.size() && IsNameChar(text[end])) {
                    ++end;
                }
                AppendVariable(out, text.substr(i + 1, end - i - 1), text.substr(i, end - i));
                i = end;
                continue;
            }
        }
        out += c;
        ++i;
    }
    return out;
}

} // namespace tintavo::platform
