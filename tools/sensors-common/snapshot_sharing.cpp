#include "snapshot_sharing.h"

#include "formats/document_codec.h"

#include <algorithm>
#include <map>

namespace brivane::cli {

FetchedSnapshot AgentSnapshots::fetch() {
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(connection_.timeoutMs());
    auto answer = connection_.ask(ipc::Selector::snapshot, std::nullopt);
    if (answer.status == noData) {
        return {std::nullopt, noData,
                answer.text.empty() ? "the agent answered with no data" : std::move(answer.text)};
    }
    if (answer.status != answered) {
        return {std::nullopt, answer.status, std::move(answer.text)};
    }
    auto snapshot = decodeSensorSnapshot(answer.text);
    if (!snapshot) {
        return {std::nullopt, noData, "the agent's snapshot did not decode"};
    }
    rank(deadline);
    askCpuDetails(deadline);
    FetchedSnapshot fetched{std::move(snapshot), answered, {}, busiest_, connection_.agentLoader()};
    fetched.cpu = cpu_;
    return fetched;
}

void AgentSnapshots::askCpuDetails(std::chrono::steady_clock::time_point deadline) {
    const auto now = std::chrono::steady_clock::now();
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - now);
    if (!countCpus_ || (cpuAskedAt_ && now - *cpuAskedAt_ < rankingInterval) || left.count() <= 0) {
        return;
    }
    cpuAskedAt_ = now;
    const auto answer =
        connection_.ask(ipc::Selector::cpuDetails, std::nullopt, static_cast<int>(left.count()));
    if (auto details =
            answer.status == answered ? decodeCPUDetailsSnapshot(answer.text) : std::nullopt) {
        cpu_ = std::make_shared<const CPUDetailsSnapshot>(std::move(*details));
    }
}

void AgentSnapshots::rank(std::chrono::steady_clock::time_point deadline) {
    const auto now = std::chrono::steady_clock::now();
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - now);
    if (!rankEnergy_ || (rankedAt_ && now - *rankedAt_ < rankingInterval) || left.count() <= 0) {
        return;
    }
    rankedAt_ = now; // a failed ranking waits for the next interval too
    const auto answer = connection_.ask(ipc::Selector::processDetails, std::string("energy"),
                                        static_cast<int>(left.count()));
    const auto details =
        answer.status == answered ? decodeProcessDetailsSnapshot(answer.text) : std::nullopt;
    if (!details) {
        return;
    }
    // Summed by name: a browser's dozen processes are one line, and pids would churn series.
    std::map<std::string, double> byName;
    for (const auto& process : details->ranked) {
        if (counted_ && !counted_(process.pid)) {
            continue;
        }
        byName[process.name] += process.usage;
    }
    busiest_.clear();
    for (auto& [name, impact] : byName) {
        busiest_.push_back({name, impact});
    }
    std::sort(busiest_.begin(), busiest_.end(),
              [](const auto& a, const auto& b) { return a.impact > b.impact; });
    busiest_.resize(std::min(busiest_.size(), rankedNames));
}

} // namespace brivane::cli
