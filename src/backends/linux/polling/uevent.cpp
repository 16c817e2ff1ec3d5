#include "backends/linux/polling/uevent.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <linux/filter.h>
#include <linux/netlink.h>
#include <sys/socket.h>

namespace brivane::platform::linux_backend {
namespace {

// The same test in the kernel: a storm of change events (a battery, a misbehaving driver) then
// costs the agent nothing, not even a wake-up or a full buffer. Words load big-endian.
constexpr std::uint32_t word(const char (&text)[5]) {
    return static_cast<std::uint32_t>(static_cast<unsigned char>(text[0])) << 24 |
           static_cast<std::uint32_t>(static_cast<unsigned char>(text[1])) << 16 |
           static_cast<std::uint32_t>(static_cast<unsigned char>(text[2])) << 8 |
           static_cast<std::uint32_t>(static_cast<unsigned char>(text[3]));
}

void keepOnlyDeviceActions(int socket) {
    constexpr std::uint8_t reject = 10;
    constexpr std::uint8_t accept = 11;
    // Jump offsets count from the next instruction; a load past the end rejects.
    static const std::array<sock_filter, 12> program = {{
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, 0),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, word("add@"), accept - 2, 0),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, word("move"), 0, 5 - 3),
        BPF_STMT(BPF_LD | BPF_B | BPF_ABS, 4),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, '@', accept - 5, reject - 5),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, word("remo"), 0, reject - 6),
        BPF_STMT(BPF_LD | BPF_H | BPF_ABS, 4),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, 'v' << 8 | 'e', 0, reject - 8),
        BPF_STMT(BPF_LD | BPF_B | BPF_ABS, 6),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, '@', accept - 10, reject - 10),
        BPF_STMT(BPF_RET | BPF_K, 0),
        BPF_STMT(BPF_RET | BPF_K, 0xffffffff),
    }};
    const sock_fprog filter{static_cast<unsigned short>(program.size()),
                            const_cast<sock_filter*>(program.data())};
    // Without it (a seccomp profile that refuses it) the check below still drops them.
    ::setsockopt(socket, SOL_SOCKET, SO_ATTACH_FILTER, &filter, sizeof filter);
}

} // namespace

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

bool asksForDiscovery(std::string_view message, std::span<const std::string_view> subsystems) {
    if (!message.starts_with("add@") && !message.starts_with("remove@") &&
        !message.starts_with("move@")) {
        return false;
    }
    constexpr std::string_view key = "SUBSYSTEM=";
    for (std::size_t at = message.find(key); at != std::string_view::npos;
         at = message.find(key, at + 1)) {
        if (message[at - 1] != '\0') {
            continue; // inside the header or another field's value
        }
        const std::string_view value = message.substr(at + key.size());
        const std::string_view name = value.substr(0, value.find('\0'));
        return std::find(subsystems.begin(), subsystems.end(), name) != subsystems.end();
    }
    return false;
}

posix::FileDescriptor openUeventSocket() {
    posix::FileDescriptor socket(
        ::socket(AF_NETLINK, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, NETLINK_KOBJECT_UEVENT));
    if (!socket.valid()) {
        return socket;
    }
    keepOnlyDeviceActions(socket.get()); // before bind: no event slips in unfiltered
    sockaddr_nl address{};
    address.nl_family = AF_NETLINK;
    address.nl_groups = 1; // the kernel's own messages, not udev's
    if (::bind(socket.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        socket.reset();
    }
    return socket;
}

UeventNews drainUevents(int socket, std::span<const std::string_view> subsystems) {
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
            if (errno == ENOBUFS) {
                return UeventNews::lost;
            }
            return relevant ? UeventNews::devices : UeventNews::none;
        }
        if (got == 0) {
            return relevant ? UeventNews::devices : UeventNews::none; // a closed test socket
        }
        // Port 0 is the kernel; any other sender (root, or root of a network namespace) may
        // write whatever it likes.
        if (relevant || (from.nl_family == AF_NETLINK && from.nl_pid != 0)) {
            continue;
        }
        relevant = asksForDiscovery({buffer.data(), static_cast<std::size_t>(got)}, subsystems);
    }
    return relevant ? UeventNews::devices : UeventNews::lost; // more wait: as if lost
}

} // namespace brivane::platform::linux_backend
