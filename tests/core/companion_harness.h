#pragma once

// A SensorCompanion wired to simulated parts that each test sets up by hand.

#include "core/sensor_companion.h"
#include "platform/sim/scripted_tool_runner.h"
#include "platform/sim/sim_process_table.h"
#include "platform/sim/sim_registry.h"
#include "platform/sim/sim_smc.h"

#include <atomic>
#include <chrono>
#include <future>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace brivane::testing {

// An SMC whose values are set by the test. Like the real one, an all-zero value is absent
// unless the caller allows zero. Set values only while no request is in flight.
class ScriptedSMC final : public SMC {
public:
    ScriptedSMC() : SMC(std::make_shared<platform::sim::SimSMC>(), [](std::string_view) {}) {}

    std::optional<double> getValue(std::string_view key, bool allowZero) override {
        readKeys.emplace(key);
        const auto found = values.find(key);
        if (found == values.end() || (found->second == 0 && !allowZero))
            return std::nullopt;
        return found->second;
    }
    std::optional<std::string> getStringValue(std::string_view key) override {
        const auto found = names.find(key);
        return found == names.end() ? std::nullopt : std::optional<std::string>(found->second);
    }
    std::vector<std::string> getAllKeys() override {
        ++enumerations;
        return indexOrder;
    }

    std::vector<std::string> indexOrder;
    std::map<std::string, double, std::less<>> values;
    std::map<std::string, std::string, std::less<>> names;
    std::atomic<int> enumerations{0};
    std::set<std::string, std::less<>> readKeys;
};

struct CompanionHarness {
    CompanionHarness();

    std::unique_ptr<SensorCompanion> make();

    std::shared_ptr<ScriptedSMC> smc = std::make_shared<ScriptedSMC>();
    std::shared_ptr<platform::sim::SimRegistry> registry =
        std::make_shared<platform::sim::SimRegistry>();
    std::shared_ptr<platform::ManualUptimeClock> clock =
        std::make_shared<platform::ManualUptimeClock>();
    std::shared_ptr<platform::sim::ScriptedToolRunner> scripted =
        std::make_shared<platform::sim::ScriptedToolRunner>();
    // The runner the service uses; tests may wrap `scripted` before calling make().
    std::shared_ptr<platform::ToolRunner> tools = scripted;
    std::shared_ptr<platform::sim::SimProcessTable> processes =
        std::make_shared<platform::sim::SimProcessTable>(4242, 501, 501);
    std::map<std::string, std::string, std::less<>> bundleStrings;
    std::shared_ptr<platform::HardwareMonitor> monitor; // none when null
    std::atomic<int> cpuReadersMade{0};
    std::atomic<int> manifestFetches{0};
};

// Sends one request and waits (bounded) for its reply.
using Request = std::function<void(BrivaneSensorSnapshotXPC::Reply)>;
std::future<std::optional<std::string>> ask(const Request& request);
std::optional<std::string> answer(const Request& request);

inline constexpr auto replyLimit = std::chrono::seconds(10);

} // namespace brivane::testing
