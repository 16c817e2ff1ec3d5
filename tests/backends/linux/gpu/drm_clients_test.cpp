#include "backends/linux/gpu/drm_clients.h"
#include "support/sysfs_fixture.h"

#include <gtest/gtest.h>
#include <sys/inotify.h>

namespace brivane::platform::linux_backend {
namespace {

using testing::TempDir;

// Three cards and their clients: each client id once (dup'ed and inherited descriptors), a
// process on two cards, the malformed and the vanished passed over, the sleeping card's
// clients read from their own fdinfo while nothing of the card is opened, NVIDIA's processes
// as the library read them with the card's figures, and none once the card sleeps.
TEST(DrmClients, EveryCardsClientsOnceWithoutOpeningASleepingCard) {
    TempDir sys, proc;
    testing::addThreeGraphicsCards(sys);
    testing::addGpuClientProcesses(proc, "", {100, 200, 250, 260, 270});
    const auto clock = std::make_shared<ManualUptimeClock>();
    const auto nvml = std::make_shared<NvmlSession>(BRIVANE_TEST_FAKE_NVML, clock);
    ASSERT_TRUE(nvml->read("0000:01:00.0")); // the card's probe, while it is awake
    const DrmClients clients(proc.path(), sys.path(), std::nullopt, nvml);

    const int watch = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    ASSERT_GE(watch, 0);
    for (const char* folder : {"", "/drm/card1", "/power"})
        ::inotify_add_watch(watch, (sys / "devices/pci0000:00/0000:03:00.0").append(folder).c_str(),
                            IN_OPEN | IN_ACCESS);
    const auto looked = clients.look();
    char event[4096];
    EXPECT_LT(::read(watch, event, sizeof event), 0) << "a file of the sleeping card was opened";
    ::close(watch);

    const std::string intel = "0000:00:02.0", amd = "0000:03:00.0", nvidia = "0000:01:00.0";
    EXPECT_EQ(
        looked,
        (std::vector<GpuClientUse>{
            testing::gpuClientUse(100, "card0", intel, {{"render", 1e9}, {"video", 1000}},
                                  3u << 20),
            testing::gpuClientUse(200, "card0", intel, {{"render", 5e8}}, std::nullopt),
            testing::gpuClientUse(200, "card1", amd, {{"gfx", 7e8}}, 1u << 20),
            testing::gpuClientUse(200, "card2", nvidia, {}, 64u << 20),
            testing::gpuClientUse(300, "card2", nvidia, {}, 512u << 20, {{"sm", 0.25}, {"enc", 0}}),
        }));

    // Another user's processes are not looked at.
    EXPECT_TRUE(DrmClients(proc.path(), sys.path(), ::geteuid() + 1, nullptr).look().empty());
    nvml->asleep(nvidia);
    EXPECT_EQ(clients.look().size(), 3u);
}

} // namespace
} // namespace brivane::platform::linux_backend
