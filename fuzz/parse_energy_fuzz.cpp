// Feeds arbitrary bytes, repaired to UTF-8 as the reader does, to the process monitor log
// parser and checks every reading it yields against the rules a client relies on.
#include "base/utf8.h"
#include "readers/process_details_reader.h"

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

namespace {

void require(bool holds) {
    if (!holds)
        std::abort();
}

bool isBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f';
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    const std::string text = brivane::base::utf8::replacingInvalid(bytes);
    require(brivane::base::utf8::replacingInvalid(text) ==
            text); // the repair leaves valid text alone

    const std::unordered_set<int32_t> excluded{1, 4242};
    const auto readings = brivane::ProcessDetailsReader::parseEnergy(text, excluded);
    require(readings.size() <= brivane::ProcessDetailsReader::maximumReadings);
    for (const auto& reading : readings) {
        require(reading.pid >= 1 && reading.pid != 1 && reading.pid != 4242);
        require(std::isfinite(reading.usage) && !std::signbit(reading.usage));
        const std::string& name = reading.name;
        require(!name.empty() && !isBlank(name.front()) && !isBlank(name.back()));
        require(name.find('\n') == std::string::npos);
        for (std::size_t i = 0; i < name.size(); ++i)
            require(!isBlank(name[i]) || name[i] == ' ');
        require(name.find("  ") == std::string::npos);
    }
    return 0;
}
