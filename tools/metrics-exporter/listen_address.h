#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace brivane::cli {

// Where export listens: an IPv4 address or "localhost", then a port ("127.0.0.1:9464"). Port 0
// takes any free one. The HTTP server library as Debian builds it has no IPv6.
struct ListenAddress {
    std::string host; // dotted decimal
    std::uint16_t port = 0;
    bool loopback = false;

    std::string text() const { return host + ":" + std::to_string(port); }
};

std::optional<ListenAddress> parseListenAddress(std::string_view text);

// Binds a TCP socket to address and lets it go: 0 when that works, else the error number
// (EADDRINUSE when another process listens there).
int bindError(const ListenAddress& address);

} // namespace brivane::cli
