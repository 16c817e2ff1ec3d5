#include "listen_address.h"

#include "base/whole_number.h"

#include <arpa/inet.h>
#include <cerrno>
#include <netinet/in.h>
#include <unistd.h>

namespace brivane::cli {

std::string ListenAddress::text() const {
    return (ipv6 ? "[" + host + "]" : host) + ":" + std::to_string(port);
}

socklen_t ListenAddress::socketAddress(sockaddr_storage& address) const {
    address = {};
    if (ipv6) {
        auto& v6 = reinterpret_cast<sockaddr_in6&>(address);
        v6.sin6_family = AF_INET6;
        v6.sin6_port = htons(port);
        inet_pton(AF_INET6, host.c_str(), &v6.sin6_addr);
        return sizeof v6;
    }
    auto& v4 = reinterpret_cast<sockaddr_in&>(address);
    v4.sin_family = AF_INET;
    v4.sin_port = htons(port);
    inet_pton(AF_INET, host.c_str(), &v4.sin_addr);
    return sizeof v4;
}

std::optional<ListenAddress> parseListenAddress(std::string_view text) {
    const auto colon = text.rfind(':');
    // inet_pton would stop at a NUL and accept what comes before it.
    if (colon == std::string_view::npos || text.find('\0') != std::string_view::npos) {
        return std::nullopt;
    }
    const auto port = base::wholeNumber<unsigned>(text.substr(colon + 1));
    if (!port || *port > 65535) {
        return std::nullopt;
    }
    std::string_view host = text.substr(0, colon);
    ListenAddress address{{}, static_cast<std::uint16_t>(*port)};
    if (host.size() > 2 && host.front() == '[' && host.back() == ']') {
        in6_addr ip{};
        if (inet_pton(AF_INET6, std::string(host.substr(1, host.size() - 2)).c_str(), &ip) != 1) {
            return std::nullopt;
        }
        char text6[INET6_ADDRSTRLEN];
        inet_ntop(AF_INET6, &ip, text6, sizeof text6);
        address.host = text6;
        address.ipv6 = true;
        address.loopback =
            IN6_IS_ADDR_LOOPBACK(&ip) || (IN6_IS_ADDR_V4MAPPED(&ip) && ip.s6_addr[12] == 127);
        return address;
    }
    in_addr ip{htonl(INADDR_LOOPBACK)};
    if (host != "localhost" && inet_pton(AF_INET, std::string(host).c_str(), &ip) != 1) {
        return std::nullopt;
    }
    char dotted[INET_ADDRSTRLEN];
    inet_ntop(AF_INET, &ip, dotted, sizeof dotted);
    address.host = dotted;
    address.loopback = (ntohl(ip.s_addr) >> 24) == 127;
    return address;
}

int listeningSocket(const ListenAddress& address, int backlog) {
    const int fd =
        ::socket(address.ipv6 ? AF_INET6 : AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        return -1;
    }
    // A connection closed a moment ago (TIME_WAIT) must not keep a restarted exporter off.
    const int on = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    if (address.ipv6) {
        const int only = address.host != "::";
        ::setsockopt(fd, IPPROTO_IPV6, IPV6_V6ONLY, &only, sizeof only);
    }
    sockaddr_storage where;
    const socklen_t size = address.socketAddress(where);
    if (::bind(fd, reinterpret_cast<const sockaddr*>(&where), size) != 0 ||
        ::listen(fd, backlog) != 0) {
        const int error = errno;
        ::close(fd);
        errno = error;
        return -1;
    }
    return fd;
}

} // namespace brivane::cli
