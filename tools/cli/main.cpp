// tintavo-cli: the colour-keep engine applied to picture files, for batches and scripts.

#include "CliOptions.h"
#include "OutputFile.h"
#include "PngWriter.h"
#include "SelectionKeep.h"

#include "engine/JpegMetadata.h"
#include "engine/JpegWriter.h"
#include "engine/PictureStream.h"

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <system_error>
#include <thread>
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

bool IsStandardStream(const fs::path& path) {
    return path == StandardStream;
}

std::string InputName(const fs::path& input) {
    return IsStandardStream(input) ? "standard input" : input.string();
}

std::vector<std::uint8_t> ReadStandardInput() {
    std::vector<std::uint8_t> bytes;
    std::size_t size = 0;
    while (true) {
        bytes.resize(std::max<std::size_t>(size * 2, 1 << 20));
        const std::size_t got = std::fread(bytes.data() + size, 1, bytes.size() - size, stdin);
        size += got;
        if (size < bytes.size()) {
            break;
        }
    }
    if (std::ferror(stdin)) {
        throw std::runtime_error(std::string("Cannot read the picture: ") + std::strerror(errno));
    }
    bytes.resize(size);
    return bytes;
}

// A sink that hands every call on to another through the Guard of Derived, which decides what
// becomes of the other's errors.
template <typename Derived> class GuardedSink : public RowSink {
public:
    explicit GuardedSink(RowSink& sink) : sink_(sink) {}

    void Start(std::int32_t width, std::int32_t height) final {
        Self().Guard([&] { sink_.Start(width, height); });
    }
    void WriteRows(const TColor32* rows, std::int32_t count) final {
        Self().Guard([&] { sink_.WriteRows(rows, count); });
    }
    void Finish() final {
        Self().Guard([&] { sink_.Finish(); });
    }

private:
    Derived& Self() { return static_cast<Derived&>(*this); }

    RowSink& sink_;
};

// Gives a sink's errors the name of the file it writes.
class NamedSink final : public GuardedSink<NamedSink> {
public:
    NamedSink(RowSink& sink, std::string name) : GuardedSink(sink), name_(std::move(name)) {}

    template <typename Call> void Guard(const Call& call) {
        try {
            call();
        } catch (const std::exception& error) {
            throw FileError(name_ + ": " + error.what());
        }
    }

private:
    std::string name_;
};

// The mask's sink: a failure there does not stop the result, which is written first, as it
// always was; it is reported once the result is in place.
class DeferringSink final : public GuardedSink<DeferringSink> {
public:
    explicit DeferringSink(RowSink& sink) : GuardedSink(sink) {}

    const std::optional<std::string>& Failure() const { return failure_; }

    template <typename Call> void Guard(const Call& call) {
        if (failure_) {
            return;
        }
        try {
            call();
        } catch (const std::exception& error) {
            failure_ = error.what();
        }
    }

private:
    std::optional<std::string> failure_;
};

std::unique_ptr<RowSink> MakeEncoder(OutputKind kind, std::FILE* file, bool mask,
                                     const CliOptions& options, const JpegMetadata& metadata) {
    if (kind == OutputKind::Png) {
        const PngLayout maskLayout = HasSoftMask(options) ? PngLayout::Grey8 : PngLayout::Mask1Bit;
        return std::make_unique<PngRowEncoder>(file, mask ? maskLayout : PngLayout::Rgb);
    }
    JpegEncodeSettings settings;
    settings.Quality = options.Quality;
    if (options.KeepMetadata && !mask) {
        // The pixels are written upright: the copy's orientation must not turn them again.
        settings.Exif =
            metadata.TurnedUpright ? ExifWithOrientationOne(metadata.Exif) : metadata.Exif;
        settings.Icc = metadata.Icc;
    }
    return std::make_unique<JpegRowEncoder>(file, std::move(settings));
}

// An output file with its encoder.
struct Output {
    OutputFile file;
    std::unique_ptr<RowSink> encoder;

    Output(const fs::path& target, OutputKind kind, bool mask, const CliOptions& options,
           const JpegMetadata& metadata)
        : file(target), encoder(MakeEncoder(kind, file.File(), mask, options, metadata)) {}
};

std::string OutputName(const fs::path& target) {
    return IsStandardStream(target) ? "standard output" : target.string();
}

// The rows of the input, read the way the options ask; its metadata into `metadata` when it is
// to be kept.
std::unique_ptr<RowSource> OpenInput(const CliOptions& options, const fs::path& input,
                                     const std::string& inputName, std::uint64_t heldBytesPerPixel,
                                     JpegMetadata& metadata) {
    PictureReadOptions read;
    read.AutoOrient = options.AutoOrient;
    read.HeldBytesPerPixel = heldBytesPerPixel;
    if (options.KeepMetadata) {
        read.Metadata = &metadata;
    }
    try {
        return IsStandardStream(input) ? OpenPictureRows(ReadStandardInput(), read)
                                       : OpenPictureRows(input, read);
    } catch (const std::exception& error) {
        throw FileError(inputName + ": " + error.what());
    }
}

// The result's output and, when asked, the mask's. A mask that cannot be opened does not stop
// the result: its failure is reported once the result is in place.
struct PictureOutputs {
    std::optional<Output> result;
    std::optional<Output> mask;
    std::optional<std::string> maskFailure;

    PictureOutputs(const CliOptions& options, const fs::path& output, OutputKind kind,
                   const std::optional<fs::path>& maskOutput, const JpegMetadata& metadata) {
        try {
            result.emplace(output, kind, false, options, metadata);
        } catch (const std::exception& error) {
            throw FileError(error.what());
        }
        if (maskOutput) {
            try {
                mask.emplace(*maskOutput, OutputKindOf(*maskOutput), true, options, metadata);
            } catch (const std::exception& error) {
                maskFailure = error.what();
            }
        }
    }

    // Puts the result in place, then the mask unless writing it failed; the mask's failure,
    // if any, is thrown after that.
    void Commit(const DeferringSink* maskSink) {
        try {
            result->file.Commit();
            if (maskSink && maskSink->Failure()) {
                maskFailure = maskSink->Failure();
            } else if (mask) {
                mask->file.Commit();
            }
        } catch (const std::exception& error) {
            throw FileError(error.what());
        }
        if (maskFailure) {
            throw FileError(*maskFailure);
        }
    }
};

// Streams the rows through the colour keep, a failure named after the input unless a sink has
// named it already.
void KeepRows(const CliOptions& options, const KeepSettings& settings, bool selection,
              RowSource& source, const std::string& inputName, RowSink& result,
              DeferringSink* mask) {
    try {
        if (selection) {
            KeepSelected(source, options, result, mask);
        } else {
            KeepColours(source, settings, result, mask);
        }
    } catch (const FileError&) {
        throw;
    } catch (const PickError& error) {
        throw PickError(inputName + ": " + error.what());
    } catch (const std::exception& error) {
        throw FileError(inputName + ": " + error.what());
    }
}

// Reads one picture, renders it (and filters it when asked) and writes the results, the
// rows streaming from the decoder to the encoders.
void ProcessPicture(const CliOptions& options, const fs::path& input, const fs::path& output,
                    OutputKind kind, const std::optional<fs::path>& maskOutput) {
    const KeepSettings settings{options.Cc, options.Limits, options.Filter};
    const bool selection = UsesSelection(options);
    const std::string inputName = InputName(input);
    JpegMetadata metadata;
    const std::unique_ptr<RowSource> source =
        OpenInput(options, input, inputName,
                  selection ? SelectionHeldBytesPerPixel(options) : KeepHeldBytesPerPixel(settings),
                  metadata);
    PictureOutputs outputs(options, output, kind, maskOutput, metadata);
    NamedSink resultSink(*outputs.result->encoder, OutputName(output));
    std::optional<NamedSink> maskNamed;
    std::optional<DeferringSink> maskSink;
    if (outputs.mask) {
        maskNamed.emplace(*outputs.mask->encoder, maskOutput->string());
        maskSink.emplace(*maskNamed);
    }
    KeepRows(options, settings, selection, *source, inputName, resultSink,
             maskSink ? &*maskSink : nullptr);
    outputs.Commit(maskSink ? &*maskSink : nullptr);
}

void PrintError(const std::string& message) {
    std::cerr << Program << ": " << message << '\n';
}

int RunSingle(const CliOptions& options) {
    try {
        ProcessPicture(options, options.Inputs.front(), *options.Output,
                       ResultKind(options, *options.Output), options.Mask);
    } catch (const PickError& error) {
        // Like a value out of range, only known once the picture is read.
        PrintError(error.what());
        return 2;
    } catch (const std::exception& error) {
        PrintError(error.what());
        return 1;
    }
    return 0;
}

std::string Clock(std::chrono::steady_clock::duration span) {
    const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(span).count();
    char text[32];
    if (seconds >= 3600) {
        std::snprintf(
            text, sizeof text, "%lld:%02lld:%02lld", static_cast<long long>(seconds / 3600),
            static_cast<long long>(seconds / 60 % 60), static_cast<long long>(seconds % 60));
    } else {
        std::snprintf(text, sizeof text, "%lld:%02lld", static_cast<long long>(seconds / 60),
                      static_cast<long long>(seconds % 60));
    }
    return text;
}

// Which result goes where, decided in input order before anything runs: an input whose result
// would replace an earlier one's fails at once, the others are the work.
struct BatchPlan {
    std::vector<fs::path> outputs;
    std::vector<std::optional<std::string>> failures;
    std::vector<std::size_t> work;
};

BatchPlan PlanBatch(const CliOptions& options, const fs::path& folder, const char* extension) {
    const std::size_t total = options.Inputs.size();
    BatchPlan plan{
        std::vector<fs::path>(total), std::vector<std::optional<std::string>>(total), {}};
    std::set<fs::path> written;
    for (std::size_t i = 0; i < total; ++i) {
        const fs::path& input = options.Inputs[i];
        plan.outputs[i] = folder / (input.stem().string() + extension);
        if (!written.insert(plan.outputs[i].lexically_normal()).second) {
            plan.failures[i] = input.string() + ": its result " + plan.outputs[i].string() +
                               " would replace that of an earlier input";
        } else {
            plan.work.push_back(i);
        }
    }
    return plan;
}

// "[finished/total] elapsed", with the time left once some of the work is done.
std::string ProgressLine(std::size_t finished, std::size_t total, std::size_t work,
                         std::chrono::steady_clock::duration elapsed) {
    std::string line = "[" + std::to_string(finished) + "/" + std::to_string(total) + "] " +
                       Clock(elapsed) + " elapsed";
    const std::size_t done = finished - (total - work);
    if (done > 0) {
        line += ", about " + Clock(elapsed * (work - done) / done) + " left";
    }
    return line;
}

// Several pictures at once, one per core, each through its own stream; their failures go to
// the plan.
void RunPlan(const CliOptions& options, OutputKind kind, BatchPlan& plan) {
    const std::size_t total = options.Inputs.size();
    const std::vector<std::size_t>& work = plan.work;
    std::mutex mutex;
    std::condition_variable progressed;
    std::size_t finished = total - work.size();
    std::atomic<std::size_t> next{0};
    const auto runJobs = [&] {
        for (std::size_t k = next.fetch_add(1); k < work.size(); k = next.fetch_add(1)) {
            const std::size_t i = work[k];
            std::optional<std::string> failure;
            try {
                ProcessPicture(options, options.Inputs[i], plan.outputs[i], kind, std::nullopt);
            } catch (const std::exception& error) {
                failure = error.what();
            }
            const std::lock_guard lock(mutex);
            plan.failures[i] = std::move(failure);
            ++finished;
            progressed.notify_all();
        }
    };
    const unsigned cores = std::max(std::thread::hardware_concurrency(), 1u);
    const std::size_t threads = std::min<std::size_t>(cores, work.size());
    const bool showProgress = isatty(STDERR_FILENO) != 0;
    const auto started = std::chrono::steady_clock::now();
    {
        // On a terminal this thread keeps the progress line while the workers run.
        const std::size_t wanted = showProgress ? threads : threads - 1;
        std::vector<std::jthread> workers;
        for (std::size_t t = 0; t < wanted; ++t) {
            try {
                workers.emplace_back(runJobs);
            } catch (const std::system_error&) {
                break; // fewer at once
            }
        }
        if (showProgress) {
            std::unique_lock lock(mutex);
            while (finished < total && !workers.empty()) {
                const auto elapsed = std::chrono::steady_clock::now() - started;
                std::cerr << "\r\033[K" << ProgressLine(finished, total, work.size(), elapsed)
                          << std::flush;
                progressed.wait_for(lock, std::chrono::milliseconds(500));
            }
        }
        runJobs(); // what no worker has taken (all of it when none could start)
    }
    if (showProgress) {
        std::cerr << "\r\033[K" << std::flush;
    }
}

// Prints every failure in input order, then how many there were; the batch's status.
int ReportFailures(const std::vector<std::optional<std::string>>& failures) {
    std::size_t failed = 0;
    for (const std::optional<std::string>& failure : failures) {
        if (failure) {
            PrintError(*failure);
            ++failed;
        }
    }
    if (failed > 0) {
        PrintError(std::to_string(failed) + " of " + std::to_string(failures.size()) +
                   " pictures failed");
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
    const OutputKind kind = options.Format.value_or(OutputKind::Jpeg);
    BatchPlan plan = PlanBatch(options, folder, kind == OutputKind::Png ? ".png" : ".jpg");
    RunPlan(options, kind, plan);
    return ReportFailures(plan.failures);
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
    PrepareOutputSignals();
    return options.Output ? RunSingle(options) : RunBatch(options);
}

} // namespace
} // namespace tintavo::cli

int main(int argc, char** argv) {
    return tintavo::cli::Run(argc, argv);
}
