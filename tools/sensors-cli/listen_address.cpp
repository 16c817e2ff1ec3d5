#include "listen_address.h"

#include <arpa/inet.h>
#include <charconv>

namespace brivane::cli {

std::optional<ListenAddress> parseListenAddress(std::string_view text) {
    const auto colon = text.rfind(':');
    if (colon == std::string_view::npos) {
        return std::nullopt;
    }
    std::string host(text.substr(0, colon));
    const auto portText = text.substr(colon + 1);
    unsigned port = 0;
    const auto [end, error] =
        std::from_chars(portText.data(), portText.data() + portText.size(), port);
    if (portText.empty() || error != std::errc() || end != portText.data() + portText.size() ||
        port > 65535) {
        return std::nullopt;
    }
    ListenAddress address;
    address.port = static_cast<std::uint16_t>(port);
    if (host == "localhost") {
        host = "127.0.0.1";
    }
    if (host.size() > 2 && host.front() == '[' && host.back() == ']') {
        in6_addr v6{};
        if (inet_pton(AF_INET6, host.substr(1, host.size() - 2).c_str(), &v6) != 1) {
            return std::nullopt;
        }
        address.loopback = IN6_IS_ADDR_LOOPBACK(&v6);
    } else {
        in_addr v4{};
        if (inet_pton(AF_INET, host.c_str(), &v4) != 1) {
            return std::nullopt;
        }
        address.loopback = (ntohl(v4.s_addr) >> 24) == 127;
    }
    address.host = std::move(host);
    return address;
}

} // namespace brivane::cli
