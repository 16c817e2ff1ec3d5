#include "base/error_text.h"

#include <array>
#include <cstring>

namespace brivane::base {
namespace {

// strerror_r comes in two kinds: GNU's returns the text (in the buffer or a constant), POSIX's
// fills the buffer and returns a status.
[[maybe_unused]] const char* textOf(const char* text, const char*) {
    return text;
}
[[maybe_unused]] const char* textOf(int status, const char* buffer) {
    return status == 0 ? buffer : "Unknown error";
}

} // namespace

std::string errorText(int error) {
    std::array<char, 256> buffer{};
    return textOf(::strerror_r(error, buffer.data(), buffer.size()), buffer.data());
}

} // namespace brivane::base
