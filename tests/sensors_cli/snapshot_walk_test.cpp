#include "formats/sensor_snapshot_fields.h"
#include "sensors-cli/snapshot_view.h"
#include "sensors-common/metrics_text.h"
#include "sensors-common/snapshot_walk.h"

#include <gtest/gtest.h>
#include <map>
#include <set>
#include <sstream>

namespace brivane::cli {
namespace {

// Calls leaf(path, value) for every scalar under `value`, by its path of JSON keys; with `grow`,
// absent members are made present and empty lists get one element first.
template <typename Value, typename Leaf>
void forEachLeaf(Value& value, const std::string& path, const Leaf& leaf, bool grow = false) {
    if constexpr (isOptional<Value>) {
        if (grow && !value) {
            value = typename Value::value_type{};
        }
        if (value) {
            forEachLeaf(*value, path, leaf, grow);
        }
    } else if constexpr (isVector<Value>) {
        if (grow && value.empty()) {
            value.resize(1);
        }
        for (auto& element : value) {
            forEachLeaf(element, path, leaf, grow);
        }
    } else if constexpr (DocumentRecord<Value>) {
        forEachField(value, [&](std::string_view key, auto& member) {
            forEachLeaf(member, (path.empty() ? "" : path + ".") + std::string(key), leaf, grow);
        });
    } else {
        leaf(path, value);
    }
}

// The snapshot with every field, and one `sensors` entry per kind, each of a listed kind
// joining its reading.
SensorSnapshot everyField() {
    SensorSnapshot snapshot;
    int next = 1; // every number distinct, every flag raised
    forEachLeaf(
        snapshot, "",
        [&](const std::string&, auto& value) {
            using Value = std::remove_cvref_t<decltype(value)>;
            if constexpr (std::is_same_v<Value, std::string>) {
                value = "s" + std::to_string(next++);
            } else {
                value = static_cast<Value>(next++);
            }
        },
        true);
    const auto entry = snapshot.sensors->front();
    snapshot.sensors->clear();
    for (const auto& kind : platform::sensorKinds) {
        auto& added = snapshot.sensors->emplace_back(entry);
        added.type = kind.type;
        added.unit = std::string(kind.unit);
        added.key = kind.kind == platform::SensorKind::temperature ? snapshot.temperatures[0].key
                    : kind.kind == platform::SensorKind::fan       ? *snapshot.fans[0].name
                    : kind.kind == platform::SensorKind::power     ? (*snapshot.power)[0].key
                                                                   : "chip/" + added.type;
    }
    return snapshot;
}

std::string cliOutput(const SensorSnapshot& snapshot) {
    const auto view = snapshotView(snapshot, {});
    return renderText(view) + renderJson(view, "snapshot");
}

std::string metricsOutput(const SensorSnapshot& snapshot) {
    return exposition(metricFamilies(&snapshot, 0.25));
}

// Every field of the document reaches the CLI's view and the metrics text (a change of it
// changes them), unless it is left out of one on purpose.
TEST(SnapshotWalk, EveryFieldReachesTheViewAndTheMetricsOrIsLeftOutForAReason) {
    std::map<std::string, std::string> leftOutOfMetrics = {
        {"version", "the document's layout, not a reading"},
        {"helperUID", "who answered: a series would repeat the scrape's user label"},
        {"helperEffectiveUID", "who answered, as helperUID"},
        {"fans.id", "a fan's series is named by its name; its position only names a nameless one"},
        {"supportsProcessDetails", "what else the agent answers, not a reading"},
        {"supportsStorageHealth", "what else the agent answers, not a reading"},
        {"supportsManagement", "what else the agent answers, not a reading"},
        {"sensors.unit", "the family's name carries its kind's unit"},
        {"fans.minimumRPM", "its `sensors` entry's min stands for it (an SMC fan's has none)"},
    };
    const std::map<std::string, std::string> leftOutOfView = {
        {"energy.key", "counters since the agent started: the power section shows their rates"},
        {"energy.value", "as energy.key"},
        {"sources.name", "a back end that hangs shows as the readings it keeps out of reach"},
        {"sources.up", "as sources.name"},
        {"retiredFiles.name", "files that keep failing show as the readings they leave out"},
        {"retiredFiles.files", "as retiredFiles.name"},
        {"sensors.unit", "a kind's section shows its own unit"},
        {"fans.minimumRPM", "as in the metrics"},
    };
    SensorSnapshot full = everyField(); // not const: the leaves are walked as the changed one's
    const std::string cli = cliOutput(full), metrics = metricsOutput(full);
    std::set<std::string> paths;
    forEachLeaf(full, "", [&](const std::string& path, const auto&) { paths.insert(path); });
    for (const auto& path : paths) {
        SCOPED_TRACE(path);
        SensorSnapshot changed = full;
        forEachLeaf(changed, "", [&](const std::string& at, auto& value) {
            using Value = std::remove_cvref_t<decltype(value)>;
            if (at != path) {
                return;
            }
            if constexpr (std::is_same_v<Value, std::string>) {
                value += "x";
            } else if constexpr (std::is_same_v<Value, bool>) {
                value = !value;
            } else {
                value = static_cast<Value>(value + 1);
            }
        });
        EXPECT_EQ(cliOutput(changed) == cli, leftOutOfView.contains(path));
        EXPECT_EQ(metricsOutput(changed) == metrics, leftOutOfMetrics.contains(path));
    }
}

// Each reading as a recorder would keep it: a stable name, its kind and unit, a value or a gap,
// and its input's limits; an entry of a newer agent's kind keeps its document's words.
TEST(SnapshotWalk, EachReadingIsASeriesWithItsNameKindUnitAndLimits) {
    SensorSnapshot snapshot;
    snapshot.temperatures = {{"k10temp/Tctl", 60}};
    snapshot.fans = {{2, std::nullopt, 900, 5000}};
    snapshot.power = {{{"BatteryVoltage", 12.5}}};
    snapshot.battery = {{.level = 0.5, .state = "charging"}};
    snapshot.sensors = {
        {{.key = "k10temp/Tctl", .type = "temperature", .unit = "celsius", .value = 60, .crit = 95},
         {.key = "nct/in0", .type = "voltage", .unit = "volts"},
         {.key = "x/flux1", .type = "flux", .unit = "webers", .value = 3}}};
    snapshot.gpus = {{{.card = "card1",
                       .pciAddress = "0000:03:00.0",
                       .driver = "amdgpu",
                       .asleep = true,
                       .utilization = 0},
                      {.card = "card0", .driver = "i915", .temperature = 50}}};
    std::vector<std::string> seen;
    walkSnapshot(snapshot, [&](const Series& series) {
        std::ostringstream line;
        line << series.name << '|' << (series.kind || series.type.empty() ? "" : "new ")
             << series.type << '|' << series.unit << '|';
        series.value ? line << *series.value : line << "gap";
        for (const auto limit : {platform::SensorLimit::max, platform::SensorLimit::crit}) {
            if (const auto value = series.limit(limit)) {
                line << ' ' << platform::wordOf(limit) << '=' << *value;
            }
        }
        seen.push_back(line.str() + (series.listedElsewhere() ? " listed" : "") +
                       std::string(series.text));
    });
    EXPECT_EQ(seen, (std::vector<std::string>{
                        "k10temp/Tctl|temperature|celsius|60 crit=95", "F2|fan|rpm|900 max=5000",
                        "BatteryVoltage|voltage|volts|12.5", "battery/level||ratio|0.5",
                        "battery/state|||gapcharging",
                        "k10temp/Tctl|temperature|celsius|60 crit=95 listed",
                        "nct/in0|voltage|volts|gap", "x/flux1|new flux|webers|3",
                        "gpu/0000:03:00.0/state|||1asleep", "gpu/0000:03:00.0/utilization||ratio|0",
                        "gpu/card0/state|||gap", "gpu/card0/temperature|temperature|celsius|50"}));
}

} // namespace
} // namespace brivane::cli
