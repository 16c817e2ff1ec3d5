#include "readers/process_status_line.h"

#include <benchmark/benchmark.h>
#include <string>
#include <vector>

namespace {

// Lines shaped like the tool's: right-aligned pid and percentage, names with and without
// blanks, a few non-ASCII ones.
std::vector<std::string> sampleLines(std::size_t count) {
    static const char* const names[] = {
        "kernel_task",      "WindowServer",    "Kite Render Helper (GPU)", "launchd",
        "caf\xC3\xA9 sync", "mdworker_shared", "brivane-sensor-companion", "Note Taker Networking"};
    std::vector<std::string> lines;
    lines.reserve(count);
    for (std::size_t i = 0; i < count; ++i) {
        std::string pid = std::to_string(100 + i * 37 % 90000);
        std::string usage = std::to_string(i % 100) + "." + std::to_string(i % 10);
        lines.push_back(std::string(6 - std::min<std::size_t>(pid.size(), 5), ' ') + pid +
                        std::string(6 - std::min<std::size_t>(usage.size(), 5), ' ') + usage + " " +
                        names[i % std::size(names)]);
    }
    return lines;
}

void BM_ProcessStatusLine(benchmark::State& state) {
    const auto lines = sampleLines(1024);
    std::size_t parsed = 0;
    for (auto _ : state) {
        for (const auto& line : lines) {
            auto reading = brivane::parseProcessStatusLine(line);
            benchmark::DoNotOptimize(reading);
        }
        parsed += lines.size();
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(parsed));
}
BENCHMARK(BM_ProcessStatusLine);

// A whole run's output of 600 processes, of which the first 128 are kept.
void BM_ProcessStatusOutput(benchmark::State& state) {
    std::string output;
    for (const auto& line : sampleLines(600))
        output += line + "\n";
    for (auto _ : state) {
        auto readings = brivane::parseProcessStatusOutput(output, 128);
        benchmark::DoNotOptimize(readings);
    }
    state.SetItemsProcessed(state.iterations() * 128);
}
BENCHMARK(BM_ProcessStatusOutput);

} // namespace
