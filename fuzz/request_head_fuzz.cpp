// Any bytes from a client must give a verdict without crashing; a complete head never reaches
// past the bytes, never carries a NUL in its path, and its credentials decode or are refused.
#include "metrics-exporter/password_check.h"
#include "metrics-exporter/request_head.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    const auto parsed = brivane::cli::parseRequestHead(bytes, 16 * 1024);
    if (parsed.verdict != brivane::cli::HeadVerdict::complete) {
        return 0;
    }
    if (parsed.length > bytes.size() || parsed.head.path.find('\0') != std::string::npos ||
        parsed.head.path.empty() || parsed.head.path.front() != '/') {
        std::abort();
    }
    std::string user, password;
    if (parsed.head.authorization &&
        brivane::cli::basicCredentials(*parsed.head.authorization, user, password) &&
        user.find(':') != std::string::npos) {
        std::abort();
    }
    return 0;
}
