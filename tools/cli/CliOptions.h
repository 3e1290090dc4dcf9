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
    int Quality = 90;                 // of every JPEG written: the window's export by default
    bool KeepMetadata = false;        // the input's EXIF and ICC profile into a JPEG result
    bool AutoOrient = true;           // read a JPEG upright by its EXIF orientation
    std::optional<OutputKind> Format; // --format: for standard output and --out-dir
    std::optional<std::filesystem::path> Mask;   // single form only
    std::optional<std::filesystem::path> Output; // single form
    std::optional<std::filesystem::path> OutDir; // batch form
    std::vector<std::filesystem::path> Inputs;
};

// The picture type an output name asks for: .jpg and .jpeg give the export's JPEG, .png a
// lossless PNG (letter case ignored). Anything else is a UsageError naming the file.
OutputKind OutputKindOf(const std::filesystem::path& path);

// The type of the result written to `output` (-o): --format for standard output ("-", JPEG
// when not given), else the name's.
OutputKind ResultKind(const CliOptions& options, const std::filesystem::path& output);

// Reads the arguments (without the program name). Raises UsageError for anything missing,
// repeated, out of range or unknown.
CliOptions ParseArguments(const std::vector<std::string>& args);

// The usage text printed by --help.
std::string UsageText();

} // namespace tintavo::cli
