// Any bytes as process-status output: readings must respect the limit and the record's
// invariants (pid at least 1, finite non-negative usage, non-empty valid UTF-8 name).
#include "readers/process_status_line.h"

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <string_view>

namespace {

bool isValidUtf8(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size()) {
        const auto lead = static_cast<unsigned char>(text[i]);
        std::size_t length = lead < 0x80 ? 1 : lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : 2;
        if ((lead >= 0x80 && lead < 0xC2) || lead > 0xF4 || i + length > text.size())
            return false;
        for (std::size_t k = 1; k < length; ++k)
            if ((static_cast<unsigned char>(text[i + k]) & 0xC0) != 0x80)
                return false;
        i += length;
    }
    return true;
}

void check(const brivane::CPUDetailsSnapshot::ProcessReading& reading) {
    if (reading.pid < 1 || !std::isfinite(reading.usage) || reading.usage < 0 ||
        std::signbit(reading.usage) || reading.name.empty() || !isValidUtf8(reading.name))
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    const auto readings = brivane::parseProcessStatusOutput(bytes, 128);
    if (readings.size() > 128)
        std::abort();
    for (const auto& reading : readings)
        check(reading);
    if (const auto single = brivane::parseProcessStatusLine(bytes))
        check(*single);
    return 0;
}
