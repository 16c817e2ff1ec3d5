#include "backends/linux/polling/uevent.h"

#include <array>
#include <gtest/gtest.h>
#include <linux/netlink.h>
#include <string>
#include <sys/socket.h>

namespace brivane::platform::linux_backend {
namespace {

using namespace std::string_literals;

constexpr std::string_view watched[] = {"hwmon", "power_supply"};

// Which kernel messages ask for another discovery: a device of a watched subsystem added,
// removed or moved; never a change, a foreign subsystem, udev's own messages or noise.
TEST(Uevents, OnlyDevicesComingAndGoingAskForADiscovery) {
    const std::pair<std::string, bool> cases[] = {
        {"add@/devices/x/hwmon/hwmon1\0ACTION=add\0SUBSYSTEM=hwmon"s, true},
        {"remove@/devices/BAT1\0SUBSYSTEM=power_supply\0"s, true},
        {"move@/devices/y\0SUBSYSTEM=hwmon"s, true},
        {"change@/devices/BAT0\0SUBSYSTEM=power_supply"s, false},
        {"add@/devices/card1\0SUBSYSTEM=drm"s, false},
        {"add@/devices/x\0SUBSYSTEM=hwmonx"s, false},
        {"libudev\0\xfe\xed\xca\xfeSUBSYSTEM=hwmon"s, false},
        {"@/devices/x\0SUBSYSTEM=hwmon"s, false},
        {"add@/devices/x"s, false}, // no field list at all
    };
    for (const auto& [message, asks] : cases) {
        SCOPED_TRACE(message);
        const auto event = parseUevent(message);
        EXPECT_EQ(event && addsOrRemoves(*event, watched), asks);
    }

    // Draining: only the relevant message among several counts, and an empty socket is none.
    int pair[2];
    ASSERT_EQ(::socketpair(AF_UNIX, SOCK_DGRAM | SOCK_NONBLOCK, 0, pair), 0);
    const posix::FileDescriptor sender(pair[0]), receiver(pair[1]);
    EXPECT_EQ(drainUevents(receiver.get(), watched), UeventNews::none);
    for (const auto& index : {3, 0, 4}) {
        const std::string& message = cases[index].first;
        ASSERT_GT(::send(sender.get(), message.data(), message.size(), 0), 0);
    }
    EXPECT_EQ(drainUevents(receiver.get(), watched), UeventNews::devices);
    EXPECT_EQ(drainUevents(receiver.get(), watched), UeventNews::none);

    // The same message from a process (port id not 0): root may send one, never the kernel.
    // And the kernel drops every action but add, remove and move before the socket's buffer:
    // a storm of change events costs the agent nothing.
    const auto kernels = openUeventSocket();
    const posix::FileDescriptor forger(::socket(AF_NETLINK, SOCK_DGRAM, NETLINK_KOBJECT_UEVENT));
    sockaddr_nl to{AF_NETLINK, 0, 0, 0};
    socklen_t size = sizeof to;
    ASSERT_TRUE(kernels.valid() && forger.valid());
    ASSERT_EQ(::getsockname(kernels.get(), reinterpret_cast<sockaddr*>(&to), &size), 0);
    const auto send = [&](const std::string& message) {
        return ::sendto(forger.get(), message.data(), message.size(), 0,
                        reinterpret_cast<sockaddr*>(&to), sizeof to) >= 0;
    };
    if (!send(cases[0].first)) {
        GTEST_SKIP() << "sending needs CAP_NET_ADMIN";
    }
    EXPECT_EQ(drainUevents(kernels.get(), watched), UeventNews::none);
    int received = 0;
    std::array<char, 512> buffer;
    for (int storm = 0; storm < 2000; ++storm) {
        ASSERT_TRUE(send(cases[storm % 2 == 0 ? 3 : 0].first.substr(0, storm % 3 == 0 ? 3 : 99)));
        while (::recv(kernels.get(), buffer.data(), buffer.size(), MSG_DONTWAIT) > 0) {
            ++received;
        }
    }
    EXPECT_EQ(received, 667); // the adds not cut short
}

} // namespace
} // namespace brivane::platform::linux_backend
