#pragma once

#include <cstdio>
#include <filesystem>
#include <memory>

namespace tintavo::cli {

// The name that stands for standard output (and, as an input, standard input).
inline constexpr const char* StandardStream = "-";

// An output that appears whole or not at all. A file is written to a temporary file in its
// folder, which Commit flushes to disk and renames over the target; standard output ("-") is
// gathered in memory and written out by Commit. Without a Commit (an error, the writer's
// exception included) nothing reaches the target: the temporary file is removed and an older
// file of that name is left as it was. An interrupt (SIGINT, SIGTERM, SIGHUP) removes the
// temporary files of every output still open. Errors are std::runtime_error, starting with the
// target's name and ending with the system's reason.
class OutputFile {
public:
    explicit OutputFile(const std::filesystem::path& target);
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;
    ~OutputFile();

    const std::filesystem::path& Target() const;
    std::FILE* File();
    void Commit();

    struct State;

private:
    std::unique_ptr<State> state_;
};

// Takes the signals the outputs need handled for the whole run: interrupts remove what is
// being written, and a closed pipe on standard output is an error of the write, not a signal.
void PrepareOutputSignals();

} // namespace tintavo::cli
