#include "CliOptions.h"

#include "platform/AsciiText.h"

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace tintavo::cli {

namespace {

std::vector<std::string> SplitCommas(const std::string& text) {
    std::vector<std::string> parts;
    std::size_t start = 0;
    while (true) {
        const std::size_t comma = text.find(',', start);
        parts.push_back(text.substr(start, comma - start));
        if (comma == std::string::npos) {
            return parts;
        }
        start = comma + 1;
    }
}

std::optional<std::int32_t> ParseInt32(const std::string& text) {
    std::int32_t value = 0;
    const char* first = text.data();
    const char* last = text.data() + text.size();
    if (first != last && *first == '+') {
        ++first;
    }
    const auto [end, error] = std::from_chars(first, last, value);
    if (error != std::errc() || end != last || first == last) {
        return std::nullopt;
    }
    return value;
}

CentralColor ParseCentralColor(const std::string& text) {
    if (!text.empty() && text[0] == '#') {
        std::int32_t channels[3] = {};
        bool valid = text.size() == 7;
        for (std::size_t i = 1; valid && i < 7; i += 2) {
            const int high = platform::HexDigit(text[i]);
            const int low = platform::HexDigit(text[i + 1]);
            valid = high >= 0 && low >= 0;
            channels[i / 2] = high * 16 + low;
        }
        if (!valid) {
            throw UsageError("--cc wants #RRGGBB, six hexadecimal digits, not '" + text + "'");
        }
        return {channels[0], channels[1], channels[2]};
    }
    const std::vector<std::string> parts = SplitCommas(text);
    std::vector<std::int32_t> values;
    for (const std::string& part : parts) {
        const auto value = ParseInt32(part);
        if (!value) {
            break;
        }
        values.push_back(*value);
    }
    if (parts.size() != 3 || values.size() != 3) {
        throw UsageError("--cc wants three 32-bit integers R,G,B, not '" + text + "'");
    }
    return {values[0], values[1], values[2]};
}

Thresholds ParseThresholds(const std::string& text) {
    const std::vector<std::string> parts = SplitCommas(text);
    std::vector<std::int32_t> values;
    for (const std::string& part : parts) {
        const auto value = ParseInt32(part);
        if (!value || *value < 0 || *value > 255) {
            break;
        }
        values.push_back(*value);
    }
    if ((parts.size() != 1 && parts.size() != 3) || values.size() != parts.size()) {
        throw UsageError("--thresholds wants T or TR,TG,TB, each 0 to 255, not '" + text + "'");
    }
    if (values.size() == 1) {
        return {values[0], values[0], values[0]};
    }
    return {values[0], values[1], values[2]};
}

std::int32_t ParseRanged(const std::string& option, const std::string& text, std::int32_t low,
                         std::int32_t high) {
    const auto value = ParseInt32(text);
    if (!value || *value < low || *value > high) {
        throw UsageError(option + " wants a whole number from " + std::to_string(low) + " to " +
                         std::to_string(high) + ", not '" + text + "'");
    }
    return *value;
}

PickPoint ParsePick(const std::string& text) {
    const std::vector<std::string> parts = SplitCommas(text);
    std::optional<std::int32_t> x;
    std::optional<std::int32_t> y;
    if (parts.size() == 2) {
        x = ParseInt32(parts[0]);
        y = ParseInt32(parts[1]);
    }
    if (!x || !y || *x < 0 || *y < 0) {
        throw UsageError("--pick wants X,Y, two whole numbers from 0 (a pixel of the picture), "
                         "not '" +
                         text + "'");
    }
    return {*x, *y};
}

ColourModel ParseModel(const std::string& text) {
    if (text == "rgb") {
        return ColourModel::RgbBox;
    }
    if (text == "hue") {
        return ColourModel::Hue;
    }
    if (text == "perceptual") {
        return ColourModel::Perceptual;
    }
    throw UsageError("--model wants rgb, hue or perceptual, not '" + text + "'");
}

GreyModel ParseGrey(const std::string& text) {
    if (text == "average") {
        return GreyModel::Average;
    }
    if (text == "luma") {
        return GreyModel::Luminance;
    }
    throw UsageError("--grey wants average or luma, not '" + text + "'");
}

const char* ModelName(ColourModel model) {
    switch (model) {
    case ColourModel::Hue:
        return "hue";
    case ColourModel::Perceptual:
        return "perceptual";
    default:
        return "rgb";
    }
}

int ParseQuality(const std::string& text) {
    const auto value = ParseInt32(text);
    if (!value || *value < 1 || *value > 100) {
        throw UsageError("--quality wants a whole number from 1 to 100, not '" + text + "'");
    }
    return *value;
}

OutputKind ParseFormat(const std::string& text) {
    if (text == "jpeg" || text == "jpg") {
        return OutputKind::Jpeg;
    }
    if (text == "png") {
        return OutputKind::Png;
    }
    throw UsageError("--format wants jpeg or png, not '" + text + "'");
}

bool IsStandardStream(const std::filesystem::path& path) {
    return path == "-";
}

} // namespace

SelectionOptions SelectionOf(const CliOptions& options, const std::vector<CentralColor>& picked) {
    SelectionOptions selection;
    selection.Model = options.Model;
    selection.Colours = options.Colours;
    selection.Colours.insert(selection.Colours.end(), picked.begin(), picked.end());
    if (selection.Colours.empty()) {
        selection.Colours.push_back(options.Cc);
    }
    selection.Box = options.Limits;
    selection.HueTolerance = options.HueTolerance;
    selection.ChromaFloor = options.ChromaFloor;
    selection.PerceptualRadius = options.Radius;
    selection.Feather = options.Feather;
    selection.Grey = options.Grey;
    selection.Strength = options.Strength;
    return selection;
}

bool UsesSelection(const CliOptions& options) {
    return !options.Picks.empty() || !IsWrittenSelection(SelectionOf(options));
}

OutputKind ResultKind(const CliOptions& options, const std::filesystem::path& output) {
    if (IsStandardStream(output)) {
        return options.Format.value_or(OutputKind::Jpeg);
    }
    return OutputKindOf(output);
}

OutputKind OutputKindOf(const std::filesystem::path& path) {
    const std::string extension = platform::Lower(path.extension().string());
    if (extension == ".jpg" || extension == ".jpeg") {
        return OutputKind::Jpeg;
    }
    if (extension == ".png") {
        return OutputKind::Png;
    }
    throw UsageError(path.string() + ": unknown output type (name it .jpg, .jpeg or .png)");
}

namespace {

// What the parse has seen so far, beyond the options themselves.
struct ParseState {
    CliOptions options;
    bool haveCc = false;
    bool haveThresholds = false;
    bool haveQuality = false;
    // The options of one colour model each, by name, as given: checked against --model later.
    std::vector<std::pair<std::string, ColourModel>> modelOptions;
    bool haveModel = false;
    bool haveFeather = false;
    bool haveGrey = false;
    bool haveStrength = false;

    bool HasModelOption(const std::string& name) const {
        return std::any_of(modelOptions.begin(), modelOptions.end(),
                           [&name](const auto& given) { return given.first == name; });
    }
};

// One option as given, "--name value" or "--name=value", and the way to its value.
class OptionArg {
public:
    OptionArg(const std::vector<std::string>& args, std::size_t& index)
        : args_(args), index_(index), name_(args[index]) {
        if (const std::size_t eq = name_.find('=');
            name_.rfind("--", 0) == 0 && eq != std::string::npos) {
            inlineValue_ = name_.substr(eq + 1);
            name_.resize(eq);
        }
    }

    const std::string& Name() const { return name_; }
    bool Is(const char* name) const { return name_ == name; }
    // A switch: the name alone, without "=value".
    bool IsSwitch(const char* name) const { return name_ == name && !inlineValue_; }

    std::string Value() {
        if (inlineValue_) {
            return *inlineValue_;
        }
        if (index_ + 1 >= args_.size()) {
            throw UsageError(name_ + " needs a value");
        }
        return args_[++index_];
    }

    void Once(bool seen) const {
        if (seen) {
            throw UsageError(name_ + " is given twice");
        }
    }

private:
    const std::vector<std::string>& args_;
    std::size_t& index_;
    std::string name_;
    std::optional<std::string> inlineValue_;
};

// The colours kept and the model that compares with them; false when the option is another's.
bool ParseColourOption(OptionArg& arg, ParseState& state) {
    CliOptions& options = state.options;
    if (arg.Is("--cc")) {
        options.Colours.push_back(ParseCentralColor(arg.Value()));
        options.Cc = options.Colours.front();
        state.haveCc = true;
    } else if (arg.Is("--thresholds")) {
        arg.Once(state.haveThresholds);
        options.Limits = ParseThresholds(arg.Value());
        state.haveThresholds = true;
        state.modelOptions.emplace_back(arg.Name(), ColourModel::RgbBox);
    } else if (arg.Is("--pick")) {
        options.Picks.push_back(ParsePick(arg.Value()));
    } else if (arg.Is("--model")) {
        arg.Once(state.haveModel);
        options.Model = ParseModel(arg.Value());
        state.haveModel = true;
    } else if (arg.Is("--hue-tolerance") || arg.Is("--chroma-floor")) {
        const bool tolerance = arg.Is("--hue-tolerance");
        arg.Once(state.HasModelOption(arg.Name()));
        (tolerance ? options.HueTolerance : options.ChromaFloor) =
            ParseRanged(arg.Name(), arg.Value(), 0, tolerance ? MaxHueTolerance : MaxChromaFloor);
        state.modelOptions.emplace_back(arg.Name(), ColourModel::Hue);
    } else if (arg.Is("--radius")) {
        arg.Once(state.HasModelOption(arg.Name()));
        options.Radius = ParseRanged(arg.Name(), arg.Value(), 0, MaxPerceptualRadius);
        state.modelOptions.emplace_back(arg.Name(), ColourModel::Perceptual);
    } else {
        return false;
    }
    return true;
}

// How the pixels not kept are made and the mask cleaned; false when the option is another's.
bool ParseSelectionOption(OptionArg& arg, ParseState& state) {
    CliOptions& options = state.options;
    if (arg.Is("--feather")) {
        arg.Once(state.haveFeather);
        options.Feather = ParseRanged(arg.Name(), arg.Value(), 0, MaxFeather);
        state.haveFeather = true;
    } else if (arg.Is("--grey")) {
        arg.Once(state.haveGrey);
        options.Grey = ParseGrey(arg.Value());
        state.haveGrey = true;
    } else if (arg.Is("--strength")) {
        arg.Once(state.haveStrength);
        options.Strength = ParseRanged(arg.Name(), arg.Value(), 0, MaxStrength);
        state.haveStrength = true;
    } else if (arg.IsSwitch("--filter")) {
        options.Filter = true;
    } else {
        return false;
    }
    return true;
}

// Where and how the results are written; false when the option is another's.
bool ParseOutputOption(OptionArg& arg, ParseState& state) {
    CliOptions& options = state.options;
    if (arg.Is("--quality")) {
        arg.Once(state.haveQuality);
        options.Quality = ParseQuality(arg.Value());
        state.haveQuality = true;
    } else if (arg.Is("--format")) {
        arg.Once(options.Format.has_value());
        options.Format = ParseFormat(arg.Value());
    } else if (arg.IsSwitch("--keep-metadata")) {
        options.KeepMetadata = true;
    } else if (arg.IsSwitch("--no-auto-orient")) {
        options.AutoOrient = false;
    } else if (arg.Is("--mask")) {
        arg.Once(options.Mask.has_value());
        options.Mask = arg.Value();
    } else if (arg.Is("-o") || arg.Is("--output")) {
        arg.Once(options.Output.has_value());
        options.Output = arg.Value();
    } else if (arg.Is("--out-dir")) {
        arg.Once(options.OutDir.has_value());
        options.OutDir = arg.Value();
    } else {
        return false;
    }
    return true;
}

void ParseOption(const std::vector<std::string>& args, std::size_t& i, ParseState& state) {
    OptionArg arg(args, i);
    if (arg.Is("-h") || arg.Is("--help")) {
        state.options.Help = true;
    } else if (arg.Is("--version")) {
        state.options.Version = true;
    } else if (!ParseColourOption(arg, state) && !ParseSelectionOption(arg, state) &&
               !ParseOutputOption(arg, state)) {
        throw UsageError("unknown option " + args[i]);
    }
}

// The colours to keep are given, and every tolerance belongs to the model chosen.
void CheckSelection(const ParseState& state) {
    const CliOptions& options = state.options;
    if (!state.haveCc && options.Picks.empty()) {
        throw UsageError("--cc R,G,B is missing");
    }
    // A tolerance of another model would do nothing: more likely a slip than meant.
    for (const auto& [name, model] : state.modelOptions) {
        if (model != options.Model) {
            throw UsageError(name + " is for --model " + ModelName(model) + ", not --model " +
                             ModelName(options.Model));
        }
    }
    if (!state.haveThresholds && options.Model == ColourModel::RgbBox) {
        throw UsageError("--thresholds is missing");
    }
}

// The inputs and outputs fit together: one -o for one input, or a folder for files.
void CheckOutputs(const CliOptions& options) {
    if (options.Output.has_value() == options.OutDir.has_value()) {
        throw UsageError("give either -o OUTPUT (one input) or --out-dir DIR");
    }
    if (options.Inputs.empty()) {
        throw UsageError("no input picture given");
    }
    if (options.Output) {
        if (options.Inputs.size() != 1) {
            throw UsageError("-o takes exactly one input; use --out-dir for several");
        }
        if (!IsStandardStream(*options.Output) && options.Format &&
            *options.Format != OutputKindOf(*options.Output)) {
            throw UsageError("--format does not match the name " + options.Output->string());
        }
        ResultKind(options, *options.Output);
    } else {
        for (const std::filesystem::path& input : options.Inputs) {
            if (IsStandardStream(input)) {
                throw UsageError("standard input (-) works with -o only, not with --out-dir");
            }
        }
    }
}

void CheckMask(const CliOptions& options) {
    if (!options.Mask) {
        return;
    }
    if (options.OutDir) {
        throw UsageError("--mask works with a single input and -o");
    }
    if (IsStandardStream(*options.Mask)) {
        throw UsageError("--mask needs a file name; only -o can be standard output");
    }
    OutputKindOf(*options.Mask);
    if (options.Output && options.Mask->lexically_normal() == options.Output->lexically_normal()) {
        throw UsageError("--mask and -o name the same file");
    }
}

} // namespace

CliOptions ParseArguments(const std::vector<std::string>& args) {
    ParseState state;
    bool onlyInputs = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (onlyInputs || arg.empty() || arg[0] != '-' || arg == "-") {
            state.options.Inputs.emplace_back(arg);
        } else if (arg == "--") {
            onlyInputs = true;
        } else {
            ParseOption(args, i, state);
        }
    }
    if (state.options.Help || state.options.Version) {
        return state.options;
    }
    CheckSelection(state);
    CheckOutputs(state.options);
    CheckMask(state.options);
    return state.options;
}

std::string UsageText() {
    return "Usage:\n"
           "  tintavo-cli --cc R,G,B --thresholds T|TR,TG,TB [--filter] [--mask MASK.png]\n"
           "              INPUT -o OUTPUT\n"
           "  tintavo-cli --cc R,G,B --thresholds T|TR,TG,TB [--filter] --out-dir DIR "
           "INPUT...\n"
           "  tintavo-cli --model hue|perceptual --cc R,G,B|--pick X,Y ... [selection options]\n"
           "              INPUT -o OUTPUT | --out-dir DIR INPUT...\n"
           "\n"
           "Keeps the colour of every pixel whose red, green and blue each lie within their\n"
           "threshold of the Central Color, and turns every other pixel grey. INPUT - reads\n"
           "the picture from standard input.\n"
           "\n"
           "  --cc R,G,B          the Central Color (any 32-bit integers), or #RRGGBB; give it\n"
           "                      again for more colours: a pixel any of them keeps is kept\n"
           "  --thresholds T      one threshold for all channels, or TR,TG,TB (0 to 255); the\n"
           "                      RGB box's, needed with --model rgb\n"
           "  --pick X,Y          keep the colour of the input's pixel at column X, row Y (from\n"
           "                      0, the picture upright); may be repeated, with or without --cc\n"
           "  --model MODEL       rgb (default: the threshold box), hue (the hue alone, so\n"
           "                      shadows keep their colour) or perceptual (Oklab distance)\n"
           "  --hue-tolerance DEG with --model hue: hue difference kept, 0 to 180 (default 20)\n"
           "  --chroma-floor N    with --model hue: a pixel's max - min channel must exceed N,\n"
           "                      0 to 254 (default 24), so near greys are not kept\n"
           "  --radius N          with --model perceptual: Oklab distance x 100 kept, 0 to 100\n"
           "                      (default 10)\n"
           "  --feather PX        soft edge PX pixels wide, 0 (hard, default) to 50\n"
           "  --grey average|luma the grey of a pixel not kept: (R+G+B)/3 (default) or Rec. 709\n"
           "                      luma\n"
           "  --strength PCT      how far a pixel not kept goes to grey, 0 to 100 (default 100)\n"
           "  --filter            clean the mask of specks and small holes before the picture\n"
           "                      is rebuilt from it\n"
           "  --mask MASK         also write the mask (.png or .jpg): black and white, or 8-bit\n"
           "                      coverage with --feather\n"
           "  -o OUTPUT           the result: .jpg/.jpeg (JPEG, as the window exports it) or\n"
           "                      .png (lossless); - writes it to standard output\n"
           "  --out-dir DIR       write each input's result to DIR as NAME.jpg (or NAME.png)\n"
           "  --format jpeg|png   the result's type where no name gives it: -o - and --out-dir\n"
           "  --quality Q         JPEG quality 1 to 100 (default 90, as the window's export)\n"
           "  --keep-metadata     copy the input's EXIF (orientation set to 1 when the picture\n"
           "                      was turned upright) and ICC profile into a JPEG result\n"
           "  --no-auto-orient    read a JPEG's pixels as stored, ignoring its EXIF orientation\n"
           "  -h, --help          show this text\n"
           "  --version           show the version\n"
           "\n"
           "Out-of-range values exit with status 2. A --pick outside a picture is that file's\n"
           "error: status 2 for a single input, in a batch reported with the other failures.\n";
}

} // namespace tintavo::cli
