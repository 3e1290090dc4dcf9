#pragma once

#include "update/tools/VersionInfoWriter.h"

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

// Minimal Windows images (PE32 and PE32+) for the version reader's tests: headers, one
// ".rsrc" section and, when given, a version resource (type 16, name 1, language 040C).
namespace tintavo::test {

std::vector<std::uint8_t> BuildPeImage(bool is64,
                                       const std::optional<std::vector<std::uint8_t>>& block);

// A minimal ELF file (no program headers) with sections ".shstrtab" and, when a block is
// given, one named `section` holding it. `extendedCount` stores the section count and the
// name table's index in section 0, as files with very many sections do.
std::vector<std::uint8_t> BuildElfImage(bool is64, bool bigEndian,
                                        const std::optional<std::vector<std::uint8_t>>& block,
                                        const std::string& section = ".tintavo_version",
                                        bool extendedCount = false);

// A version resource with the fixed version a.b.c.d and one French table (040C04E4).
versioninfo::TVersionInfoSpec SimpleSpec(std::uint16_t a, std::uint16_t b, std::uint16_t c,
                                         std::uint16_t d,
                                         std::vector<std::pair<std::string, std::string>> strings);

// Writes a PE image with the given version resource and returns its path as text.
std::string WritePe(const std::filesystem::path& path,
                    const versioninfo::TVersionInfoSpec& declared, bool is64 = false);

void WriteBytes(const std::filesystem::path& path, const std::vector<std::uint8_t>& bytes);

// The running test program, which carries the program's own version resource.
std::string OwnExecutable();

} // namespace tintavo::test
