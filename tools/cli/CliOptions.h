#pragma once

#include "engine/RenderPass.h"

#include <filesystem>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace tintavo::cli {

// A command line that cannot be run; the text is the one-line reason.
class UsageError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

enum class OutputKind { Jpeg, Png };

struct CliOptions {
    bool Help = false;
    bool Version = false;
    CentralColor Cc;
    Thresholds Limits;
    bool Filter = false;
    std::optional<std::filesystem::path> Mask;   // single form only
    std::optional<std::filesystem::path> Output; // single form
    std::optional<std::filesystem::path> OutDir; // batch form
    std::vector<std::filesystem::path> Inputs;
};

// The picture type an output name asks for: .jpg and .jpeg give the export's JPEG, .png a
// lossless PNG (letter case ignored). Anything else is a UsageError naming the file.
OutputKind OutputKindOf(const std::filesystem::path& path);

// Reads the arguments (without the program name). Raises UsageError for anything missing,
// repeated, out of range or unknown.
CliOptions ParseArguments(const std::vector<std::string>& args);

// The usage text printed by --help.
std::string UsageText();

} // namespace tintavo::cli
