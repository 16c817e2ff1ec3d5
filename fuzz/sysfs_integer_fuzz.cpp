// Any bytes as a sysfs value file: a parsed number must print back as the text it came from
// (less one trailing newline, a '+' and leading zeros), and the two parsers must agree.
#include "backends/posix/kernel_files/sysfs_reading.h"

#include <charconv>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

namespace {

template <class T> void checkRoundTrip(std::string_view text, T value) {
    text = brivane::platform::posix::withoutNewline(text);
    const bool negative = !text.empty() && text.front() == '-';
    if (!text.empty() && (text.front() == '-' || text.front() == '+'))
        text.remove_prefix(1);
    while (text.size() > 1 && text.front() == '0')
        text.remove_prefix(1);
    std::string expected = (negative && value != 0 ? "-" : "") + std::string(text);
    char printed[24];
    auto [end, error] = std::to_chars(printed, printed + sizeof printed, value);
    if (error != std::errc{} ||
        expected != std::string_view(printed, static_cast<std::size_t>(end - printed)))
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace brivane::platform::posix;
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const auto signedValue = brivane::platform::posix::parseInteger(text);
    const auto unsignedValue = brivane::platform::posix::parseUnsigned(text);
    if (signedValue)
        checkRoundTrip(text, *signedValue);
    if (unsignedValue)
        checkRoundTrip(text, *unsignedValue);
    if (signedValue && unsignedValue && static_cast<std::uint64_t>(*signedValue) != *unsignedValue)
        std::abort();
    return 0;
}
