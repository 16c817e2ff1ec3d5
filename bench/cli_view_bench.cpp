// What the CLI's table view costs for the largest document a client takes (the connection's
// limit, 4 MiB of temperature rows) and for one 1 MiB label among 200 rows: decoding, the view
// and its text. Both must grow with the document alone, the label's cut cell padding no row.

#include "formats/document_codec.h"
#include "sensors-cli/document_view.h"
#include "sensors-common/agent_connection.h"

#include <benchmark/benchmark.h>

namespace brivane {
namespace {

std::string snapshotOf(const std::string& rows) {
    return R"({"version":2,"helperUID":1,"helperEffectiveUID":1,"fans":[],"temperatures":[)" +
           rows + "]}";
}

std::string largestDocument() {
    const std::string row = R"({"key":"nct6775/SYSTIN","value":41.5},)";
    std::string rows;
    while (rows.size() + row.size() + 64 < cli::AgentConnection::maximumDocumentBytes) {
        rows += row;
    }
    return snapshotOf(rows + R"({"key":"TC0P","value":41})");
}

std::string longLabelDocument() {
    std::string rows = R"({"key":"nct/)" + std::string(1 << 20, 'x') + R"(","value":41})";
    for (int row = 0; row < 200; ++row) {
        rows += R"(,{"key":"TC0P","value":41})";
    }
    return snapshotOf(rows);
}

void SnapshotView(benchmark::State& state) {
    const std::string document = state.range(0) == 0 ? largestDocument() : longLabelDocument();
    std::size_t shown = 0;
    for (auto _ : state) {
        const auto text = cli::renderDocument(ipc::Selector::snapshot, std::nullopt, document);
        shown = text ? text->size() : 0;
        benchmark::DoNotOptimize(text);
    }
    state.counters["document"] = static_cast<double>(document.size());
    state.counters["shown"] = static_cast<double>(shown);
}
BENCHMARK(SnapshotView)->ArgName("longLabel")->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

} // namespace
} // namespace brivane
