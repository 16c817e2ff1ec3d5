#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <sys/socket.h>

namespace brivane::cli {

// Where export listens: an IPv4 address, "localhost" or a bracketed IPv6 address, then a port
// ("127.0.0.1:9464", "[::1]:9464"). Port 0 takes any free one. "[::]" takes IPv4 connections
// too, as the dual-stack wildcard of other exporters does.
struct ListenAddress {
    std::string host; // dotted decimal, or the IPv6 address without brackets
    std::uint16_t port = 0;
    bool loopback = false;
    bool ipv6 = false;

    std::string text() const;
    // The socket address, and its length.
    socklen_t socketAddress(sockaddr_storage& address) const;
};

std::optional<ListenAddress> parseListenAddress(std::string_view text);

// A listening socket on address (non-blocking, close-on-exec), or -1 with errno set
// (EADDRINUSE when another process listens there).
int listeningSocket(const ListenAddress& address, int backlog);

} // namespace brivane::cli
