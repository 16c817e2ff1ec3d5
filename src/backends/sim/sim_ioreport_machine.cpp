#include "backends/sim/sim_ioreport_machine.h"

#include <array>

namespace brivane::platform::sim {

namespace {

constexpr double ticksPerSecond = 24'000'000.0;

struct StateShare {
    const char* name;
    double share; // of every second
};

// Idle most of the time, a little in each active state, as a lightly loaded laptop.
constexpr std::array efficiencyStates{
    StateShare{"IDLE", 0.55}, StateShare{"V0P0", 0.20}, StateShare{"V1P0", 0.12},
    StateShare{"V2P0", 0.08}, StateShare{"V3P0", 0.04}, StateShare{"V4P0", 0.01},
    StateShare{"OFF", 0.0},
};
constexpr std::array performanceStates{
    StateShare{"IDLE", 0.40}, StateShare{"DOWN", 0.30}, StateShare{"V0P0", 0.10},
    StateShare{"V1P0", 0.06}, StateShare{"V2P0", 0.05}, StateShare{"V3P0", 0.04},
    StateShare{"V4P0", 0.03}, StateShare{"V5P0", 0.02}, StateShare{"OFF", 0.0},
};

template <std::size_t N>
SimIOReportChannelSpec coreChannel(std::string name, const std::array<StateShare, N>& states,
                                   double load) {
    SimIOReportChannelSpec spec;
    spec.name = std::move(name);
    // Busier cores shift time from the first (idle) state into the active ones.
    for (std::size_t i = 0; i < N; ++i) {
        double share = states[i].share;
        if (i == 0)
            share -= load;
        else if (i == 2)
            share += load;
        spec.states.push_back({states[i].name, share * ticksPerSecond});
    }
    return spec;
}

} // namespace

std::shared_ptr<SimIOReportSource>
makeSimulatedMacIOReport(std::shared_ptr<const UptimeClock> clock) {
    auto source = std::make_shared<SimIOReportSource>(std::move(clock));

    const std::string energy = "Energy Model";
    source->addChannel(energy, std::nullopt, {"CPU Energy", "mJ", 3'400.0, {}, {}});
    source->addChannel(energy, std::nullopt, {"GPU Energy", "nJ", 850'000'000.0, {}, {}});
    source->addChannel(energy, std::nullopt, {"ANE Energy", "mJ", 0.0, {}, {}});

    const std::string stats = "CPU Stats";
    const std::string states = "CPU Core Performance States";
    for (int core = 0; core < 4; ++core)
        source->addChannel(
            stats, states,
            coreChannel("ECPU" + std::to_string(core), efficiencyStates, 0.05 * (4 - core)));
    for (int core = 0; core < 6; ++core)
        source->addChannel(
            stats, states,
            coreChannel("PCPU" + std::to_string(core), performanceStates, core < 2 ? 0.1 : 0.0));
    return source;
}

} // namespace brivane::platform::sim
