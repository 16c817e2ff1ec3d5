// Feeds arbitrary bytes to every document decoder (the first byte picks one) and checks that
// whatever decodes encodes again and reads back as the same record. The rest of the input also
// goes through the writer as a string value, which must always yield a decodable document.
#include "formats/document_codec.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

namespace {

template <typename Record, typename Decode>
void checkRoundTrip(std::string_view json, Decode decode) {
    const std::optional<Record> decoded = decode(json);
    if (!decoded) {
        return;
    }
    std::string encoded;
    // Decoded doubles are always finite, so encoding cannot fail.
    if (!brivane::encode(*decoded, encoded)) {
        std::abort();
    }
    const std::optional<Record> again = decode(encoded);
    if (!again || !(*again == *decoded)) {
        std::abort();
    }
}

void checkWriterOutput(std::string_view text) {
    brivane::SensorCompanionUpdate update{brivane::SensorCompanionUpdate::State::failed,
                                          std::string(text), std::nullopt};
    const std::string encoded = brivane::encode(update);
    const auto decoded = brivane::decodeSensorCompanionUpdate(encoded);
    if (!decoded || !decoded->version || decoded->version->size() < text.size() / 4) {
        std::abort();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) {
        return 0;
    }
    const std::string_view json(reinterpret_cast<const char*>(data) + 1, size - 1);
    switch (data[0] % 5) {
    case 0:
        checkRoundTrip<brivane::SensorSnapshot>(json, brivane::decodeSensorSnapshot);
        break;
    case 1:
        checkRoundTrip<brivane::CPUDetailsSnapshot>(json, brivane::decodeCPUDetailsSnapshot);
        break;
    case 2:
        checkRoundTrip<brivane::ProcessDetailsSnapshot>(json,
                                                        brivane::decodeProcessDetailsSnapshot);
        break;
    case 3:
        checkRoundTrip<brivane::StorageHealthSnapshot>(json, brivane::decodeStorageHealthSnapshot);
        break;
    default:
        checkRoundTrip<brivane::SensorCompanionUpdate>(json, brivane::decodeSensorCompanionUpdate);
        break;
    }
    checkWriterOutput(json);
    return 0;
}
