#pragma once

#include "engine/RenderPass.h"
#include "engine/Selection.h"

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

// A pixel of the input picture, as read (turned upright unless --no-auto-orient).
struct PickPoint {
    std::int32_t X = 0;
    std::int32_t Y = 0;
};

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

    // The selection beyond the RGB box (engine/Selection.h); the defaults are the box's.
    std::vector<CentralColor> Colours; // every --cc in order, Cc the first: the union is kept
    std::vector<PickPoint> Picks;      // --pick: the colours of these pixels are kept too
    ColourModel Model = ColourModel::RgbBox;
    std::int32_t HueTolerance = DefaultHueTolerance;
    std::int32_t ChromaFloor = DefaultChromaFloor;
    std::int32_t Radius = DefaultPerceptualRadius;
    std::int32_t Feather = 0;
    GreyModel Grey = GreyModel::Average;
    std::int32_t Strength = MaxStrength;
};

// The selection the options ask for, with the --cc colours and then `picked` (the colours
// found at the --pick points) as its colours.
SelectionOptions SelectionOf(const CliOptions& options,
                             const std::vector<CentralColor>& picked = {});

// True when the options ask for more than the written render (the RGB box around one colour,
// hard edge, average grey at full strength): then the picture goes through the selection's
// own path instead of the render pass's stream.
bool UsesSelection(const CliOptions& options);

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
