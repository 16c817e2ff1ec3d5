#include "backends/sim/sim_smc_laptop.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <string>
#include <string_view>
#include <unordered_map>

namespace brivane::platform::sim {

namespace {

std::vector<std::uint8_t> fltBytes(double value) {
    const auto bits = std::bit_cast<std::uint32_t>(static_cast<float>(value));
    return {static_cast<std::uint8_t>(bits), static_cast<std::uint8_t>(bits >> 8),
            static_cast<std::uint8_t>(bits >> 16), static_cast<std::uint8_t>(bits >> 24)};
}

std::vector<std::uint8_t> sp78Bytes(double value) {
    const auto raw = static_cast<std::uint16_t>(std::clamp(std::lround(value * 256), 0L, 65535L));
    return {static_cast<std::uint8_t>(raw >> 8), static_cast<std::uint8_t>(raw)};
}

std::vector<std::uint8_t> fanDescriptor(std::string_view name) {
    std::vector<std::uint8_t> bytes(16, ' ');
    bytes[0] = 0;
    bytes[1] = 0;
    bytes[2] = 0;
    bytes[3] = 0;
    std::copy_n(name.begin(), std::min<std::size_t>(name.size(), 12), bytes.begin() + 4);
    return bytes;
}

// A value that follows a slow sine around its base, so a monitor shows life.
struct Wander {
    bool flt = true;
    double base = 0;
    double amplitude = 0;
    double period = 30;
    double phase = 0;
};

struct LaptopTable {
    std::vector<SimSMCKey> keys;
    std::unordered_map<std::uint32_t, Wander> wander;

    void add(std::string_view name, std::string_view type, std::vector<std::uint8_t> bytes) {
        keys.push_back(simKey(name, type, std::move(bytes)));
    }
    void wandering(std::string_view name, bool flt, double base, double amplitude) {
        const double phase = static_cast<double>(keys.size()) * 0.7;
        const double period = 20.0 + static_cast<double>(keys.size() % 7) * 5.0;
        add(name, flt ? "flt " : "sp78", flt ? fltBytes(base) : sp78Bytes(base));
        wander.emplace(fourCharCode(name), Wander{flt, base, amplitude, period, phase});
    }
};

LaptopTable laptopTable() {
    LaptopTable table;
    // CPU clusters, GPU, memory, SoC dies and skin sensors.
    const std::string_view cpu[] = {"Tp01", "Tp05", "Tp09", "Tp0D", "Tp0H", "Tp0L", "Tp0P", "Tp0T",
                                    "Tp0X", "Tp0b", "Tp0f", "Tp0j", "Tp1h", "Tp1l", "Tp1p", "Tp1t"};
    for (std::size_t i = 0; i < std::size(cpu); ++i) {
        table.wandering(cpu[i], true, 44.0 + static_cast<double>(i % 5) * 1.7, 3.0);
    }
    const std::string_view gpu[] = {"Tg05", "Tg0D", "Tg0L", "Tg0T", "Tg0X", "Tg0b", "Tg0f", "Tg0j"};
    for (std::size_t i = 0; i < std::size(gpu); ++i) {
        table.wandering(gpu[i], true, 38.0 + static_cast<double>(i % 3) * 1.1, 2.0);
    }
    const std::string_view soc[] = {"Tm02", "Tm06", "Tm08", "Tm09", "Te05", "Te0L", "Te0P",
                                    "Te0S", "Ts0P", "Ts0S", "Ts1P", "Ts1S", "TW0P", "TH0x",
                                    "TH0a", "TaLP", "TaLT", "TaRF", "TaRT", "TCMb", "TPD0",
                                    "TPD1", "TPD2", "TVD0", "TVS0", "TR0Z", "TR1d"};
    for (std::size_t i = 0; i < std::size(soc); ++i) {
        table.wandering(soc[i], true, 31.0 + static_cast<double>(i % 9) * 1.3, 1.0);
    }
    // Battery cells report in fixed point.
    table.wandering("TB0T", false, 30.5, 0.4);
    table.wandering("TB1T", false, 30.1, 0.4);
    table.wandering("TB2T", false, 30.8, 0.4);
    // Sensors that are absent, disconnected or saturated: the monitor must filter them.
    table.add("TH0b", "flt ", fltBytes(0.0));
    table.add("TVSx", "flt ", fltBytes(-40.0));
    table.add("TR2d", "flt ", fltBytes(200.0));
    table.add("TCMz", "sp78", {0xFF, 0x00});

    // Two fans.
    table.add("FNum", "ui8 ", {2});
    table.add("FS! ", "ui16", {0, 0});
    const std::string_view fanNames[] = {"Left side", "Right side"};
    for (int fan = 0; fan < 2; ++fan) {
        const std::string prefix = "F" + std::to_string(fan);
        table.wandering(prefix + "Ac", true, 1250.0 + fan * 80.0, 120.0);
        table.add(prefix + "Mn", "flt ", fltBytes(1200.0));
        table.add(prefix + "Mx", "flt ", fltBytes(fan == 0 ? 5779.0 : 6241.0));
        table.add(prefix + "Tg", "flt ", fltBytes(1200.0));
        table.add(prefix + "Md", "ui8 ", {0});
        table.add(prefix + "ID", "{fds", fanDescriptor(fanNames[fan]));
    }

    // Power: system total, CPU, GPU, memory and battery rail, in watts.
    table.wandering("PSTR", true, 9.4, 1.5);
    table.wandering("PCPC", true, 3.1, 1.0);
    table.wandering("PG0R", true, 0.8, 0.3);
    table.wandering("PMTR", true, 1.2, 0.2);
    table.wandering("PPBR", true, 7.6, 1.2);

    // A few other keys the companion never decodes.
    table.add("BNum", "ui8 ", {1});
    table.add("B0AV", "ui16", {0x30, 0xA2});
    table.add("CHLC", "ui8 ", {1});
    table.add("RPlt", "ch8*", {'j', '3', '1', '4', 's', 0, 0, 0});
    table.add("VP0R", "fp2e", {0x2E, 0x00});

    std::sort(table.keys.begin(), table.keys.end(),
              [](const SimSMCKey& a, const SimSMCKey& b) { return a.key < b.key; });
    table.keys = withKeyCount(std::move(table.keys));
    return table;
}

} // namespace

std::shared_ptr<SimSMC> makeSimulatedLaptopSMC(std::shared_ptr<const UptimeClock> clock) {
    LaptopTable table = laptopTable();
    auto smc = std::make_shared<SimSMC>(std::move(table.keys));
    if (clock) {
        smc->setValueHook([clock = std::move(clock), wander = std::move(table.wander)](
                              std::uint32_t key, std::span<std::uint8_t, 32> bytes) {
            const auto found = wander.find(key);
            if (found == wander.end()) {
                return;
            }
            const Wander& w = found->second;
            const double value =
                w.base + w.amplitude * std::sin(clock->uptime() * 6.283185307 / w.period + w.phase);
            const auto encoded = w.flt ? fltBytes(value) : sp78Bytes(value);
            std::copy(encoded.begin(), encoded.end(), bytes.begin());
        });
    }
    return smc;
}

} // namespace brivane::platform::sim
