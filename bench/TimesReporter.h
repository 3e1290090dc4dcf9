#pragma once

// The benchmarks' table as Google Benchmark prints it, with each run's times kept by name so
// that a benchmark can print its targets as ratios afterwards, and the main steps around it.

#include <benchmark/benchmark.h>

#include <unistd.h>

#include <map>
#include <string>
#include <vector>

namespace tintavo::bench {

class TimesReporter : public benchmark::ConsoleReporter {
public:
    TimesReporter() : ConsoleReporter(isatty(STDOUT_FILENO) != 0 ? OO_Defaults : OO_Tabular) {}

    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs) {
            // With repetitions the median, which follows the single runs, has the last word.
            const bool median = run.run_type == Run::RT_Aggregate && run.aggregate_name == "median";
            if ((run.run_type == Run::RT_Iteration || median) && !run.error_occurred) {
                std::string name = run.run_name.str();
                name = name.substr(0, name.find("/min_time"));
                elapsed_[name] = run.GetAdjustedRealTime();
                cpu_[name] = run.GetAdjustedCPUTime();
            }
        }
    }

protected:
    // The elapsed time, and the processor time of all threads, of the run of this name (without
    // its min_time); 0 when it did not run.
    double Elapsed(const std::string& name) const { return Find(elapsed_, name); }
    double Cpu(const std::string& name) const { return Find(cpu_, name); }
    // Every run's elapsed time, by name.
    const std::map<std::string, double>& ElapsedTimes() const { return elapsed_; }

private:
    static double Find(const std::map<std::string, double>& times, const std::string& name) {
        const auto found = times.find(name);
        return found == times.end() ? 0.0 : found->second;
    }

    std::map<std::string, double> elapsed_;
    std::map<std::string, double> cpu_;
};

// Takes Google Benchmark's options from the command line; false when it holds others too.
inline bool StartBenchmarks(int* argc, char** argv) {
    benchmark::Initialize(argc, argv);
    return !benchmark::ReportUnrecognizedArguments(*argc, argv);
}

// Runs the benchmarks the command line chose, printing their table and then the ratios of a
// `Reporter` (a TimesReporter with PrintRatios()); the exit status of the program.
template <typename Reporter> int RunAndPrintRatios() {
    Reporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    reporter.PrintRatios();
    benchmark::Shutdown();
    return 0;
}

} // namespace tintavo::bench
