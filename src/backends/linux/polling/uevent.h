#pragma once

// Kernel device events (NETLINK_KOBJECT_UEVENT), which any user may read: a device was added or
// removed. Hot-plugged chips, cards and batteries are found through them.

#include "backends/posix/system/file_descriptor.h"

#include <optional>
#include <span>
#include <string_view>

namespace brivane::platform::linux_backend {

struct Uevent {
    std::string_view action;    // "add", "remove", "change", …
    std::string_view subsystem; // "hwmon", "drm", "power_supply", …
};

// One kernel message: "<action>@<devpath>" and NUL-separated "KEY=value" fields. Absent for
// anything else (udev's own messages included). The views point into `message`.
std::optional<Uevent> parseUevent(std::span<const char> message);

// Whether the event adds or removes a device of one of `subsystems`.
bool addsOrRemoves(const Uevent& event, std::span<const std::string_view> subsystems);

// The same answer from the raw message, as the socket's messages are checked: the action from
// the header's first bytes, then the first SUBSYSTEM field, nothing else looked at.
bool asksForDiscovery(std::string_view message, std::span<const std::string_view> subsystems);

// A non-blocking socket subscribed to the kernel's events; invalid where there is none (a
// network namespace without them, a seccomp profile). The kernel itself drops every event but
// add, remove and move before it reaches the socket, where it can (a socket filter).
posix::FileDescriptor openUeventSocket();

// What draining the socket found.
enum class UeventNews {
    none,
    devices, // a device of the subsystems came or went
    lost,    // the buffer overflowed while nobody read: something may have come or gone
};

// Reads every message waiting on `socket` without blocking. Messages of other netlink senders
// are passed over, and so is every message whose action is not one of ours, before its fields
// are looked at.
UeventNews drainUevents(int socket, std::span<const std::string_view> subsystems);

} // namespace brivane::platform::linux_backend
