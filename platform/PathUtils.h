#pragma once

#include <string>

namespace tintavo::platform {

// The separator between folder levels on this system. Callers build paths with it and never
// spell a separator themselves, so a Windows backend changes nothing above this layer.
constexpr char PathDelim() noexcept {
    return '/';
}

// The path with one separator at its end (unchanged when it already ends with one).
std::string IncludeTrailingPathDelimiter(std::string path);

// The folder part of a file path, up to and including its last separator; empty when the
// path has no separator.
std::string ExtractFilePath(const std::string& filePath);

// The name part of a file path, after its last separator.
std::string ExtractFileName(const std::string& filePath);

// The extension of a file name: from the last "." after the last separator, dot included;
// empty when there is none.
std::string ExtractFileExt(const std::string& filePath);

// Replaces the environment references %NAME%, $NAME and ${NAME} by the variables' values.
// A reference to a variable that is not set stays as written, as the shell's own expansion
// leaves it.
std::string ExpandEnvironmentReferences(const std::string& text);

} // namespace tintavo::platform
