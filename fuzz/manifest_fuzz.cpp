// Decodes arbitrary bytes as a release manifest and, when that works, runs the offer rules
// against a running version and system taken from the input's first bytes.
#include "update/companion_release.h"

#include <cstddef>
#include <cstdint>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    const auto split = input.find('\n');
    const std::string_view running =
        split == std::string_view::npos ? "1.0" : input.substr(0, split);
    const std::string_view manifest =
        split == std::string_view::npos ? input : input.substr(split + 1);
    brivane::CompanionRelease::components(running);
    try {
        const auto release = brivane::CompanionRelease::decode(manifest);
        const auto encoded = release.encode();
        if (!(brivane::CompanionRelease::decode(encoded) == release)) {
            __builtin_trap();
        }
        const brivane::platform::OperatingSystemVersion system{
            size > 0 ? data[0] : 14, size > 1 ? data[1] : 0, size > 2 ? data[2] : 0};
        try {
            release.isNewer(running, system);
        } catch (const brivane::CompanionRelease::Invalid&) {
        }
    } catch (const brivane::CompanionRelease::DecodingError&) {
    }
    return 0;
}
