// Reports Google Benchmark results as usual, then as speed ratios of each
// candidate against a baseline measured in the same run: a figure that does
// not depend on how fast this particular machine is.
#pragma once

#include <benchmark/benchmark.h>

#include <algorithm>
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
    // pairs share the names of candidate and baseline before the first '/', their
    // geometric mean and their smallest ratio follow.
    void printRatios() const {
        std::printf("\nspeed ratios (baseline time / candidate time):\n");
        struct Family {
            double logSum = 0.0;
            int size = 0;
            double minimum = INFINITY;
        };
        std::map<std::string, Family> families;
        for (const Pair &pair : pairs_) {
            const auto candidate = seconds_.find(pair.candidate);
            const auto baseline = seconds_.find(pair.baseline);
            if (candidate == seconds_.end() || baseline == seconds_.end()) continue;
            const double ratio = baseline->second / candidate->second;
            std::printf("  %-56s vs %-40s %6.3f\n", pair.candidate.c_str(), pair.baseline.c_str(), ratio);
            const auto familyName = [](const std::string &name) { return name.substr(0, name.find('/')); };
            Family &family = families[familyName(pair.candidate) + " vs " + familyName(pair.baseline)];
            family.logSum += std::log(ratio);
            ++family.size;
            family.minimum = std::min(family.minimum, ratio);
        }
        for (const auto &[name, family] : families) {
            if (family.size > 1) {
                std::printf("  %-56s geometric mean %6.3f, smallest %6.3f\n", name.c_str(),
                            std::exp(family.logSum / family.size), family.minimum);
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
