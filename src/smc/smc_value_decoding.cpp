#include "smc/smc_value_decoding.h"

#include "smc/four_char_code.h"
#include "smc/smc_byte_conversions.h"
#include "smc/smc_data_type.h"

#include <algorithm>
#include <array>

namespace brivane {

namespace {

double unsignedFixedPoint(const SMCValueBytes& bytes, int fractionBits) {
    return static_cast<double>(uint16FromBytes({bytes[0], bytes[1]})) /
           static_cast<double>(1u << fractionBits);
}

constexpr bool isBlank(std::uint8_t byte) {
    return byte == 0x20 || byte == 0xA0 || byte == 0x09;
}

} // namespace

std::optional<double> decodeSMCValue(std::string_view dataType, const SMCValueBytes& bytes) {
    if (!isFourCharName(dataType)) {
        return std::nullopt;
    }
    switch (static_cast<SMCDataType>(platform::fourCharCode(dataType))) {
    case SMCDataType::UI8:
        return bytes[0];
    case SMCDataType::UI16:
        return uint16FromBytes({bytes[0], bytes[1]});
    case SMCDataType::UI32:
        return uint32FromBytes({bytes[0], bytes[1], bytes[2], bytes[3]});
    case SMCDataType::SP1E:
        return unsignedFixedPoint(bytes, 14);
    case SMCDataType::SP3C:
        return unsignedFixedPoint(bytes, 12);
    case SMCDataType::SP4B:
        return unsignedFixedPoint(bytes, 11);
    case SMCDataType::SP5A:
        return unsignedFixedPoint(bytes, 10);
    case SMCDataType::SPA5:
        return unsignedFixedPoint(bytes, 5);
    case SMCDataType::SP69:
        return unsignedFixedPoint(bytes, 9);
    case SMCDataType::SP78:
        return unsignedFixedPoint(bytes, 8);
    case SMCDataType::SP87:
        return unsignedFixedPoint(bytes, 7);
    case SMCDataType::SP96:
        return unsignedFixedPoint(bytes, 6);
    case SMCDataType::SPB4:
        return unsignedFixedPoint(bytes, 4);
    case SMCDataType::SPF0:
        return unsignedFixedPoint(bytes, 0);
    case SMCDataType::FLT:
        return floatFromBytes({bytes[0], bytes[1], bytes[2], bytes[3]});
    case SMCDataType::FPE2:
        return intFromFPE2({bytes[0], bytes[1]});
    case SMCDataType::FP2E:
    case SMCDataType::FDS:
        return std::nullopt;
    }
    return std::nullopt;
}

bool isZeroValueKey(std::string_view key) {
    static constexpr std::array<std::string_view, 5> kKeys = {"FS! ", "F0Md", "F1Md", "F0md",
                                                              "F1md"};
    return std::find(kKeys.begin(), kKeys.end(), key) != kKeys.end();
}

bool allBytesZero(const SMCValueBytes& bytes) {
    return std::all_of(bytes.begin(), bytes.end(), [](std::uint8_t b) { return b == 0; });
}

std::string fanDescriptorName(const SMCValueBytes& bytes) {
    std::size_t first = 4;
    std::size_t end = 16;
    while (first < end && isBlank(bytes[first])) {
        ++first;
    }
    while (end > first && isBlank(bytes[end - 1])) {
        --end;
    }
    std::string name;
    name.reserve(2 * (end - first));
    for (std::size_t i = first; i < end; ++i) {
        appendLatin1AsUtf8(name, bytes[i]);
    }
    return name;
}

} // namespace brivane
