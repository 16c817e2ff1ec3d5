#include "platform/linux/systemd_unit_text.h"

#include <algorithm>

namespace brivane::platform::linux_backend {
namespace {

bool hasControlCharacter(const std::string& text) {
    return std::any_of(text.begin(), text.end(),
                       [](char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7f; });
}

// systemd expands % specifiers and $ variables inside command lines; quoting keeps blanks.
std::string quotedArgument(const std::string& argument) {
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
            quoted += "$$";
            break;
        default:
            quoted += c;
        }
    }
    return quoted + '"';
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
    std::string command;
    for (const auto& argument : agent.programArguments) {
        if (hasControlCharacter(argument)) {
            return std::nullopt;
        }
        command += command.empty() ? "" : " ";
        command += quotedArgument(argument);
    }
    std::string text = "[Unit]\nDescription=" + agent.label + "\n";
    if (!agent.machServices.empty()) {
        text += "Requires=" + agent.label + ".socket\nAfter=" + agent.label + ".socket\n";
    }
    text += "\n[Service]\nExecStart=" + command + "\n\n[Install]\nWantedBy=default.target\n";
    return text;
}

std::optional<std::string> socketUnitText(const LaunchAgentDescription& agent) {
    std::string text = "[Unit]\nDescription=" + agent.label + " endpoint\n\n[Socket]\n";
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
    text += "SocketMode=0600\nService=" + agent.label +
            ".service\n\n[Install]\nWantedBy=sockets.target\n";
    return text;
}

} // namespace brivane::platform::linux_backend
