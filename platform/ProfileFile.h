#pragma once

#include <cstddef>
#include <string>
#include <utility>
#include <vector>

namespace tintavo::platform {

// The settings file through the profile functions: an INI file ([section] lines, name=value
// lines) in UTF-8. Section and value names compare without regard to the case of A to Z;
// names and values are trimmed of blanks, and a value in matching quotes loses them. Lines
// starting with ';' are comments. CRLF and LF line ends are read; a file keeps its own.

// The names of a section's lines in file order, as they come through a buffer of the given
// size in bytes: each name followed by a NUL, the list by a second one; when the names do not
// fit, the list is cut to fill the buffer, the last name shortened (never inside a
// character). No names when the file or the section is missing.
std::vector<std::string> ProfileSectionNames(const std::string& file, const std::string& section,
                                             std::size_t bufferSize);

// The value of a name in a section, or the default when absent, as it comes through a buffer
// of the given size: at most bufferSize - 1 bytes, cut where a character begins.
std::string ProfileString(const std::string& file, const std::string& section,
                          const std::string& name, const std::string& defaultValue,
                          std::size_t bufferSize);

// ProfileSectionNames with, for each name, what ProfileString (default empty) answers for it;
// the file is read once.
std::vector<std::pair<std::string, std::string>> ProfileSectionValues(const std::string& file,
                                                                      const std::string& section,
                                                                      std::size_t namesBufferSize,
                                                                      std::size_t valueBufferSize);

// Writes name=value into the section, replacing the first line of that name, else adding the
// line at the end of the section; creates the file and the section when missing. Other
// sections and lines are kept as they are. Line breaks in the value become blanks, since a
// value stands on one line. The file is replaced in one step where its folder allows it.
// Returns false when the file cannot be written.
[[nodiscard]] bool WriteProfileString(const std::string& file, const std::string& section,
                                      const std::string& name, const std::string& value);

} // namespace tintavo::platform
