#pragma once

#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <string>
#include <utility>
#include <vector>

// Prints the usual table, then each benchmark's speed as a ratio to its baseline.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    // {measured, baseline} pairs of benchmark names.
    explicit RatioReporter(std::vector<std::pair<std::string, std::string>> pairs) : pairs_(std::move(pairs)) {}

    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs) {
            auto it = run.counters.find("bytes_per_second");
            if (it == run.counters.end()) continue;
            std::string name = run.benchmark_name();
            if (auto slash = name.find('/'); slash != std::string::npos) name.resize(slash);
            speeds_[name] = double(it->second);
        }
    }

    void Finalize() override {
        ConsoleReporter::Finalize();
        for (const auto& [measured, baseline] : pairs_) {
            if (!speeds_.count(measured) || !speeds_.count(baseline)) continue;
            std::printf("%-44s %9.1f MB/s = %.2f x %s (%.1f MB/s)\n", measured.c_str(), speeds_[measured] / 1e6,
                        speeds_[measured] / speeds_[baseline], baseline.c_str(), speeds_[baseline] / 1e6);
        }
    }

private:
    std::vector<std::pair<std::string, std::string>> pairs_;
    std::map<std::string, double> speeds_;
};
