#include "listen_address.h"

#include "base/whole_number.h"

#include <arpa/inet.h>

namespace brivane::cli {

std::optional<ListenAddress> parseListenAddress(std::string_view text) {
    const auto colon = text.rfind(':');
    if (colon == std::string_view::npos) {
        return std::nullopt;
    }
    const auto portText = text.substr(colon + 1);
    const auto port = wholeNumber<unsigned>(portText);
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

} // namespace brivane::cli
