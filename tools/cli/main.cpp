// tintavo-cli: the colour-keep engine applied to picture files, for batches and scripts.

#include "CliOptions.h"
#include "OutputFile.h"
#include "PngWriter.h"

#include "engine/EngineError.h"
#include "engine/JpegWriter.h"
#include "engine/MaskFilter.h"
#include "engine/PictureReader.h"
#include "engine/RenderPass.h"

#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <iostream>
#include <set>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace tintavo::cli {
namespace {

constexpr const char* Program = "tintavo-cli";

// A failure that belongs to one file; the text already starts with that file's name.
class FileError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

void WritePicture(const TBitmap32& picture, const fs::path& target, bool grey) {
    if (OutputKindOf(target) == OutputKind::Png) {
        WriteAtomically(target, [&](std::FILE* file) { WritePng(picture, file, grey); });
        return;
    }
    std::vector<std::uint8_t> stream;
    try {
        stream = EncodeJpeg(picture);
    } catch (const EngineError& error) {
        throw FileError(target.string() + ": " + error.what());
    }
    WriteAtomically(target, [&stream](std::FILE* file) {
        if (std::fwrite(stream.data(), 1, stream.size(), file) != stream.size()) {
            throw std::runtime_error("cannot write the file");
        }
    });
}

// Reads one picture, renders it (and filters it when asked) and writes the results.
void ProcessPicture(const CliOptions& options, const fs::path& input, const fs::path& output,
                    const std::optional<fs::path>& maskOutput) {
    TBitmap32 source;
    try {
        ReadPictureFile(source, input);
    } catch (const EngineError& error) {
        throw FileError(input.string() + ": " + error.what());
    }
    TBitmap32 render;
    TBitmap32 mask;
    try {
        RenderPixels(source, options.Cc, options.Limits, render, mask);
        if (options.Filter) {
            FilterMask(mask);
            RecomposePicture(source, mask, render);
        }
    } catch (const EngineError& error) {
        throw FileError(input.string() + ": " + error.what());
    }
    // What is written no longer needs the picture as read: give its memory back first.
    source.Resize(0, 0);
    if (!maskOutput) {
        mask.Resize(0, 0);
    }
    try {
        WritePicture(render, output, false);
        if (maskOutput) {
            render.Resize(0, 0);
            WritePicture(mask, *maskOutput, true);
        }
    } catch (const FileError&) {
        throw;
    } catch (const std::exception& error) {
        throw FileError(error.what());
    }
}

void PrintError(const std::string& message) {
    std::cerr << Program << ": " << message << '\n';
}

int RunSingle(const CliOptions& options) {
    try {
        ProcessPicture(options, options.Inputs.front(), *options.Output, options.Mask);
    } catch (const std::exception& error) {
        PrintError(error.what());
        return 1;
    }
    return 0;
}

int RunBatch(const CliOptions& options) {
    const fs::path& folder = *options.OutDir;
    std::error_code ec;
    if (!fs::is_directory(folder, ec)) {
        PrintError(folder.string() + ": no such folder");
        return 1;
    }
    const bool showProgress = isatty(STDERR_FILENO) != 0;
    const std::size_t total = options.Inputs.size();
    std::vector<std::string> failures;
    std::set<fs::path> written;
    for (std::size_t i = 0; i < total; ++i) {
        const fs::path& input = options.Inputs[i];
        if (showProgress) {
            std::cerr << "\r\033[K[" << i + 1 << '/' << total << "] " << input.string()
                      << std::flush;
        }
        const fs::path output = folder / (input.stem().string() + ".jpg");
        if (!written.insert(output.lexically_normal()).second) {
            failures.push_back(input.string() + ": its result " + output.string() +
                               " would replace that of an earlier input");
            continue;
        }
        try {
            ProcessPicture(options, input, output, std::nullopt);
        } catch (const std::exception& error) {
            failures.emplace_back(error.what());
        }
    }
    if (showProgress) {
        std::cerr << "\r\033[K" << std::flush;
    }
    for (const std::string& failure : failures) {
        PrintError(failure);
    }
    if (!failures.empty()) {
        PrintError(std::to_string(failures.size()) + " of " + std::to_string(total) +
                   " pictures failed");
        return 1;
    }
    return 0;
}

int Run(int argc, char** argv) {
    CliOptions options;
    try {
        options = ParseArguments(std::vector<std::string>(argv + 1, argv + argc));
    } catch (const UsageError& error) {
        // One line, the way to the help included, so scripts can show it as it is.
        PrintError(std::string(error.what()) + " (see '" + Program + " --help')");
        return 2;
    }
    if (options.Help) {
        std::cout << UsageText();
        return 0;
    }
    if (options.Version) {
        std::cout << Program << ' ' << TINTAVO_VERSION << '\n';
        return 0;
    }
    return options.Output ? RunSingle(options) : RunBatch(options);
}

} // namespace
} // namespace tintavo::cli

int main(int argc, char** argv) {
    return tintavo::cli::Run(argc, argv);
}
