// Reports Google Benchmark results as usual, then as speed ratios of each
// candidate against a baseline measured in the same run: a figure that does
// not depend on how fast this particular machine is.
#pragma once

#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdio>
#include <map>
#include <set>
#include <string>
#include <utility>
#include <vector>

class RatioReporter : public benchmark::ConsoleReporter {
public:
    struct Pair {
        std::string candidate;
        std::string baseline;
    };

    explicit RatioReporter(std::vector<Pair> pairs) : pairs_(std::move(pairs)) {}

    // With --benchmark_repetitions the median of the repetitions is used, which
    // a busy machine disturbs least; otherwise the single run.
    void ReportRuns(const std::vector<Run> &runs) override {
        for (const Run &run : runs) {
            if (run.error_occurred) continue;
            if (run.run_type == Run::RT_Aggregate && run.aggregate_name == "median") {
                seconds_[run.run_name.str()] = run.GetAdjustedRealTime();
                medians_.insert(run.run_name.str());
            } else if (run.run_type == Run::RT_Iteration && !medians_.count(run.benchmark_name())) {
                seconds_[run.benchmark_name()] = run.GetAdjustedRealTime();
            }
        }
        ConsoleReporter::ReportRuns(runs);
    }

    // Ratios above 1 mean the candidate is faster than its baseline. Where several
    // candidates share a name before the first '/', their geometric mean follows.
    void printRatios() const {
        std::printf("\nspeed ratios (baseline time / candidate time):\n");
        std::map<std::string, std::pair<double, int>> families;  // sum of logs, count
        for (const Pair &pair : pairs_) {
            const auto candidate = seconds_.find(pair.candidate);
            const auto baseline = seconds_.find(pair.baseline);
            if (candidate == seconds_.end() || baseline == seconds_.end()) continue;
            const double ratio = baseline->second / candidate->second;
            std::printf("  %-56s vs %-40s %6.3f\n", pair.candidate.c_str(), pair.baseline.c_str(), ratio);
            auto &family = families[pair.candidate.substr(0, pair.candidate.find('/'))];
            family.first += std::log(ratio);
            ++family.second;
        }
        for (const auto &[name, family] : families) {
            if (family.second > 1) {
                std::printf("  geometric mean of %-79s %6.3f\n", name.c_str(), std::exp(family.first / family.second));
            }
        }
    }

private:
    std::vector<Pair> pairs_;
    std::map<std::string, double> seconds_;
    std::set<std::string> medians_;
};

// main() for a benchmark program whose figures are the given ratios.
inline int runWithRatios(int argc, char **argv, std::vector<RatioReporter::Pair> pairs) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    RatioReporter reporter(std::move(pairs));
    benchmark::RunSpecifiedBenchmarks(&reporter);
    reporter.printRatios();
    benchmark::Shutdown();
    return 0;
}
