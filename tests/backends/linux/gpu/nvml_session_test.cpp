#include "backends/linux/sysfs_registry.h"
#include "support/sysfs_fixture.h"

#include <cstdlib>
#include <dlfcn.h>
#include <fstream>
#include <gtest/gtest.h>

namespace brivane::platform::linux_backend {
namespace {

using testing::TempDir;

// The stand-in library's counts (fake_nvml.cpp), read where the agent's code loaded it.
struct LibraryCounts {
    int inits = 0, shutdowns = 0, held = 0, wokenAsleep = 0;

    static LibraryCounts now() {
        static void* const library = ::dlopen(BRIVANE_TEST_FAKE_NVML, RTLD_NOW);
        const auto count = reinterpret_cast<int (*)(int)>(::dlsym(library, "fakeNvmlCount"));
        return {count(0), count(1), count(2), count(3)};
    }
    LibraryCounts since(const LibraryCounts& start) const {
        return {inits - start.inits, shutdowns - start.shutdowns, held,
                wokenAsleep - start.wokenAsleep};
    }
};

// An NVIDIA card whose runtime power management the test plays: it suspends once nothing has
// held the library for `autosuspend` seconds (the stand-in cannot tell which process holds it;
// this one is the only user). A client asks for the cards every `every` seconds; the registry's
// lanes take a turn every second.
class SleepingCard : public ::testing::Test {
public:
    ~SleepingCard() override { ::unsetenv("BRIVANE_FAKE_NVML_STATUS"); }

protected:
    SleepingCard() {
        testing::addGraphicsCard(sys, 0, "0000:01:00.0", "nvidia", "power/runtime_status=active");
        ::setenv("BRIVANE_FAKE_NVML_STATUS", status().c_str(), 1);
    }

    std::string status() const {
        return sys.path() + "/devices/pci0000:00/0000:01:00.0/power/runtime_status";
    }
    bool suspended() const {
        std::string text;
        std::ifstream(status()) >> text;
        return text == "suspended";
    }

    // Seconds of a client asking every `every` seconds (0: not at all), the card's kernel
    // suspending it after `autosuspend` seconds unheld; the last busy share the client saw.
    std::optional<double> run(int seconds, int every, double autosuspend = 5) {
        std::optional<double> seen;
        for (int t = 0; t < seconds; ++t) {
            if (every > 0 && t % every == 0) {
                const auto entries = registry.matchingEntries("IOAccelerator");
                const auto card = entries->next(); // none before the first discovery
                const auto* statistics =
                    card ? card->dictionaryProperty("PerformanceStatistics") : nullptr;
                const auto found = statistics ? statistics->find("Device Utilization %")
                                              : RegistryDictionary::const_iterator{};
                seen = !statistics || found == statistics->end()
                           ? std::nullopt
                           : std::optional(std::get<double>(found->second));
            }
            registry.step();
            if (LibraryCounts::now().held > 0)
                unheldSince = clock->uptime();
            else if (clock->uptime() - unheldSince >= autosuspend)
                sys.write("devices/pci0000:00/0000:01:00.0/power/runtime_status", "suspended\n");
            clock->advance(1);
        }
        return seen;
    }

    TempDir sys;
    std::shared_ptr<ManualUptimeClock> clock = std::make_shared<ManualUptimeClock>();
    SysfsRegistry registry{
        sys.path(), {.clock = clock, .background = false}, BRIVANE_TEST_FAKE_NVML};
    double unheldSince = clock->uptime();
};

// The history recorder asks every 10 s: the card is read shortly before each request and let go
// at once, so it sleeps; once asleep, it is never asked again, and shows as an idle card.
TEST_F(SleepingCard, AClientAskingEveryTenSecondsLetsItSleepAndNeverWakesIt) {
    const auto start = LibraryCounts::now();
    // A card whose kernel keeps it awake a minute: each request sees its figures.
    EXPECT_EQ(run(45, 10, 60), 42.0);
    EXPECT_EQ(LibraryCounts::now().since(start).held, 0);
    EXPECT_GE(LibraryCounts::now().since(start).inits, 3);
    run(60, 10);
    EXPECT_TRUE(suspended());
    const auto counts = LibraryCounts::now().since(start);
    EXPECT_EQ(counts.held, 0);
    EXPECT_EQ(counts.inits, counts.shutdowns);
    EXPECT_EQ(counts.wokenAsleep, 0);
    EXPECT_EQ(run(20, 10), 0.0);
    EXPECT_EQ(LibraryCounts::now().since(start).inits, counts.inits);
}

// A client asking every second keeps the library, initialised once, and sees every figure;
// it is let go as soon as the card suspends anyway, and when the client stops, at the rest.
TEST_F(SleepingCard, AClientAskingOftenKeepsTheLibraryUntilTheCardSleepsOrTheRest) {
    const auto start = LibraryCounts::now();
    EXPECT_EQ(run(30, 1), 42.0);
    EXPECT_EQ(LibraryCounts::now().since(start).inits, 1);
    EXPECT_EQ(LibraryCounts::now().since(start).held, 1);
    sys.write("devices/pci0000:00/0000:01:00.0/power/runtime_status", "suspended\n");
    EXPECT_EQ(run(3, 1), 0.0);
    EXPECT_EQ(LibraryCounts::now().since(start).held, 0);
    sys.write("devices/pci0000:00/0000:01:00.0/power/runtime_status", "active\n");
    EXPECT_EQ(run(3, 1), 42.0);
    run(20, 0);
    const auto counts = LibraryCounts::now().since(start);
    EXPECT_EQ(counts.held, 0);
    EXPECT_EQ(counts.shutdowns, 2);
    EXPECT_TRUE(suspended());
    EXPECT_EQ(counts.wokenAsleep, 0);
}

} // namespace
} // namespace brivane::platform::linux_backend
