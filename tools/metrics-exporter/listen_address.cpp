#include "listen_address.h"

#include "base/whole_number.h"

#include <arpa/inet.h>
#include <cerrno>
#include <sys/socket.h>
#include <unistd.h>

namespace brivane::cli {

std::optional<ListenAddress> parseListenAddress(std::string_view text) {
    const auto colon = text.rfind(':');
    if (colon == std::string_view::npos) {
        return std::nullopt;
    }
    const auto portText = text.substr(colon + 1);
    const auto port = base::wholeNumber<unsigned>(portText);
    if (!port || *port > 65535) {
        return std::nullopt;
    }
    const std::string_view host = text.substr(0, colon);
    in_addr ip{htonl(INADDR_LOOPBACK)};
    // inet_pton would stop at a NUL and accept what comes before it.
    if (host != "localhost" && (host.find('\0') != std::string_view::npos ||
                                inet_pton(AF_INET, std::string(host).c_str(), &ip) != 1)) {
        return std::nullopt;
    }
    char dotted[INET_ADDRSTRLEN];
    inet_ntop(AF_INET, &ip, dotted, sizeof dotted);
    return ListenAddress{dotted, static_cast<std::uint16_t>(*port),
                         (ntohl(ip.s_addr) >> 24) == 127};
}

int bindError(const ListenAddress& address) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        return errno;
    }
    // A connection closed a moment ago (TIME_WAIT) is no listener.
    const int on = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in where{};
    where.sin_family = AF_INET;
    where.sin_port = htons(address.port);
    inet_pton(AF_INET, address.host.c_str(), &where.sin_addr);
    const int error =
        ::bind(fd, reinterpret_cast<const sockaddr*>(&where), sizeof where) == 0 ? 0 : errno;
    ::close(fd);
    return error;
}

} // namespace brivane::cli
