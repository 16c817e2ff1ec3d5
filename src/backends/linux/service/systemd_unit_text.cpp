#include "backends/linux/service/systemd_unit_text.h"

#include "backends/posix/kernel_files/loader_inspection.h"

#include <algorithm>

namespace brivane::platform::linux_backend {
namespace {

bool hasControlCharacter(const std::string& text) {
    return std::any_of(text.begin(), text.end(),
                       [](char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7f; });
}

// systemd expands % specifiers everywhere and $ variables in arguments; quoting keeps blanks.
std::string quotedArgument(const std::string& argument, bool executable) {
    std::string quoted = "\"";
    for (const char c : argument) {
        switch (c) {
        case '"':
        case '\\':
            quoted += '\\';
            quoted += c;
            break;
        case '%':
            quoted += "%%";
            break;
        case '$':
            quoted += executable ? "$" : "$$";
            break;
        default:
            quoted += c;
        }
    }
    return quoted + '"';
}

// systemd refuses to run an executable whose path holds a quote or a backslash.
bool isRunnablePath(const std::string& path) {
    return path.find_first_of("\"'\\") == std::string::npos;
}

// What the agent needs: reading /sys and /proc, starting the helper tools of its bundle, the
// system bus and netlink (and, with the self-updater, the network and its cache folder). The
// socket unit hands it its socket, so it writes nothing else.
//
// A user manager can only confine it with seccomp and no-new-privileges: it cannot drop
// capabilities (it has none to give up), and it sets up mount, device and network restrictions
// only in a user namespace of the service's own (PrivateUsers=), from which the kernel lets no
// process read /proc/<pid>/exe of a process outside, which admitting a client needs.
constexpr std::string_view agentSandbox =
    "NoNewPrivileges=yes\n"
#if BRIVANE_SELF_UPDATE
    "RestrictAddressFamilies=AF_UNIX AF_NETLINK AF_INET AF_INET6\n"
#else
    "RestrictAddressFamilies=AF_UNIX AF_NETLINK\n"
#endif
    "RestrictNamespaces=yes\n"
    "RestrictRealtime=yes\n"
    "RestrictSUIDSGID=yes\n"
    "LockPersonality=yes\n"
    "MemoryDenyWriteExecute=yes\n"
    "SystemCallArchitectures=native\n"
    "SystemCallFilter=@system-service\n"
    "SystemCallFilter=~@privileged\n"
    "SystemCallErrorNumber=EPERM\n"
    "KeyringMode=private\n"
    "UMask=0077\n";

// A desktop session hands its whole environment to the user's manager, so CUDA's or conda's
// library paths, or a preload, would otherwise reach the agent and be loaded into it.
std::string unsetLoaderVariables() {
    std::string line = "UnsetEnvironment=";
    for (const auto name : posix::loaderVariables) {
        line.append(name).append(name == posix::loaderVariables.back() ? "\n" : " ");
    }
    return line;
}

} // namespace

bool isUsableUnitName(const std::string& label) {
    return !label.empty() && label.size() <= 200 &&
           std::all_of(label.begin(), label.end(), [](char c) {
               return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                      c == ':' || c == '-' || c == '_' || c == '.' || c == '@';
           });
}

std::optional<std::string> serviceUnitText(const LaunchAgentDescription& agent) {
    if (agent.programArguments.empty()) {
        return std::nullopt;
    }
    if (!isRunnablePath(agent.programArguments.front())) {
        return std::nullopt;
    }
    std::string command;
    for (const auto& argument : agent.programArguments) {
        if (hasControlCharacter(argument)) {
            return std::nullopt;
        }
        command += command.empty() ? quotedArgument(argument, true)
                                   : " " + quotedArgument(argument, false);
    }
    std::string text = "[Unit]\nDescription=Brivane Sensor Companion, the sensor agent of this "
                       "user's monitoring clients\nDocumentation=man:brivane-sensor-companion(1)\n";
    if (!agent.machServices.empty()) {
        text += "Requires=" + agent.label + ".socket\nAfter=" + agent.label + ".socket\n";
    }
    return text + "\n[Service]\nExecStart=" + command + "\n" + std::string(agentSandbox) +
           unsetLoaderVariables() + "\n[Install]\nWantedBy=default.target\n";
}

std::optional<std::string> socketUnitText(const LaunchAgentDescription& agent) {
    std::string text = "[Unit]\nDescription=Brivane Sensor Companion socket, which starts the "
                       "agent on the first connection\n"
                       "Documentation=man:brivane-sensor-companion(1)\n\n[Socket]\n";
    for (const auto& name : agent.machServices) {
        // A socket path holds at most 107 bytes; the runtime folder takes some of them.
        if (name.empty() || name.size() > 80 || hasControlCharacter(name) ||
            name.find('/') != std::string::npos || name == "." || name == ".." ||
            name.front() == ' ' || name.back() == ' ') {
            return std::nullopt;
        }
        std::string escaped;
        for (const char c : name) {
            escaped += c == '%' ? std::string("%%") : std::string(1, c);
        }
        text += "ListenStream=%t/" + escaped + "\n";
    }
    // A stopped socket leaves no file behind in the runtime folder.
    text += "SocketMode=0600\nRemoveOnStop=yes\nService=" + agent.label +
            ".service\n\n[Install]\nWantedBy=sockets.target\n";
    return text;
}

} // namespace brivane::platform::linux_backend
