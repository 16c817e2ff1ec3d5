// Any --listen text must parse without crashing, and an accepted address must read back the
// same from the form handed to the HTTP server.
#include "metrics-exporter/listen_address.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const auto address = brivane::cli::parseListenAddress(text);
    if (!address) {
        return 0;
    }
    const auto again = brivane::cli::parseListenAddress(address->text());
    if (!again || again->host != address->host || again->port != address->port ||
        again->loopback != address->loopback || again->ipv6 != address->ipv6) {
        std::abort();
    }
    return 0;
}
