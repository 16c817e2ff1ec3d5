#include "backends/linux/polling/uevent.h"

#include <array>
#include <cerrno>
#include <linux/netlink.h>
#include <sys/socket.h>

namespace brivane::platform::linux_backend {

std::optional<Uevent> parseUevent(std::span<const char> message) {
    std::string_view rest(message.data(), message.size());
    const auto headerEnd = rest.find('\0');
    const std::string_view header = rest.substr(0, headerEnd);
    const auto at = header.find('@');
    if (at == std::string_view::npos || at == 0 || headerEnd == std::string_view::npos) {
        return std::nullopt;
    }
    Uevent event{header.substr(0, at), {}};
    rest.remove_prefix(headerEnd + 1);
    while (!rest.empty()) {
        const auto end = rest.find('\0');
        const std::string_view field = rest.substr(0, end);
        constexpr std::string_view key = "SUBSYSTEM=";
        if (field.starts_with(key)) {
            event.subsystem = field.substr(key.size());
        }
        rest.remove_prefix(end == std::string_view::npos ? rest.size() : end + 1);
    }
    return event;
}

bool addsOrRemoves(const Uevent& event, std::span<const std::string_view> subsystems) {
    if (event.action != "add" && event.action != "remove" && event.action != "move") {
        return false;
    }
    for (const auto subsystem : subsystems) {
        if (subsystem == event.subsystem) {
            return true;
        }
    }
    return false;
}

posix::FileDescriptor openUeventSocket() {
    posix::FileDescriptor socket(
        ::socket(AF_NETLINK, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, NETLINK_KOBJECT_UEVENT));
    sockaddr_nl address{};
    address.nl_family = AF_NETLINK;
    address.nl_groups = 1; // the kernel's own messages, not udev's
    if (socket.valid() &&
        ::bind(socket.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        socket.reset();
    }
    return socket;
}

bool drainUevents(int socket, std::span<const std::string_view> subsystems) {
    bool relevant = false;
    std::array<char, 8192> buffer;
    // Bounded: a flood of events costs one pass, never the loop.
    for (int message = 0; message < 1024; ++message) {
        sockaddr_nl from{};
        socklen_t fromSize = sizeof from;
        const ssize_t got = ::recvfrom(socket, buffer.data(), buffer.size(), MSG_DONTWAIT,
                                       reinterpret_cast<sockaddr*>(&from), &fromSize);
        if (got < 0) {
            if (errno == EINTR) {
                continue;
            }
            return relevant || errno == ENOBUFS;
        }
        if (got == 0) {
            return relevant; // a closed test socket, never the kernel
        }
        // Port 0 is the kernel; any other sender (root, or root of a network namespace) may
        // write whatever it likes.
        if (from.nl_family == AF_NETLINK && from.nl_pid != 0) {
            continue;
        }
        const auto event = parseUevent(std::span(buffer.data(), static_cast<std::size_t>(got)));
        relevant = relevant || (event && addsOrRemoves(*event, subsystems));
    }
    return true;
}

} // namespace brivane::platform::linux_backend
