// The history's packed rows as a damaged or foreign file may hold them: layouts, samples,
// aggregates and marks, each decoded from the same bytes; a decoded form encodes back to what
// decodes to the same values.

#include "history/history_codec.h"

#include <cstdint>
#include <cstdlib>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace brivane::cli;
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    const std::size_t count = size == 0 ? 0 : data[0] % 64;
    const auto rest = bytes.substr(size == 0 ? 0 : 1);
    if (const auto ids = decodeLayout(rest)) {
        if (decodeLayout(encodeLayout(*ids)) != ids) {
            std::abort();
        }
    }
    if (const auto values = decodeSample(rest, count)) {
        if (values->size() != count || decodeSample(encodeSample(*values), count) != values) {
            std::abort();
        }
    }
    if (const auto values = decodeAggregates(rest, count)) {
        if (values->size() != count) {
            std::abort();
        }
    }
    SeriesMarks marks;
    if (decodeMarks(rest, static_cast<std::int64_t>(count), marks)) {
        SeriesMarks again;
        if (!decodeMarks(encodeLimits(marks), encodeFlags(marks), again) ||
            encodeLimits(again) != encodeLimits(marks)) {
            std::abort();
        }
    }
    return 0;
}
