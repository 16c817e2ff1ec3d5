#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace brivane::cli {

// Where export listens: an IPv4 address, a bracketed IPv6 address or "localhost", then a port
// ("127.0.0.1:9464", "[::1]:9464"). Port 0 takes any free one.
struct ListenAddress {
    std::string host; // as the HTTP server wants it: "127.0.0.1", "[::1]"
    std::uint16_t port = 0;
    bool loopback = false;

    std::string text() const { return host + ":" + std::to_string(port); }
};

std::optional<ListenAddress> parseListenAddress(std::string_view text);

} // namespace brivane::cli
