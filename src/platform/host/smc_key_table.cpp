#include "platform/host/smc_key_table.h"

#include <algorithm>
#include <array>
#include <cstring>

namespace brivane::platform {
namespace {

// Offsets of the fields the user client reads and writes in the 80-byte block.
constexpr std::size_t kKeyOffset = 0;
constexpr std::size_t kDataSizeOffset = 28;
constexpr std::size_t kDataTypeOffset = 32;
constexpr std::size_t kAttributesOffset = 36;
constexpr std::size_t kResultOffset = 40;
constexpr std::size_t kKindOffset = 42;
constexpr std::size_t kIndexOffset = 44;
constexpr std::size_t kBytesOffset = 48;

std::uint32_t load32(SMCInputBlock block, std::size_t offset) {
    std::uint32_t value = 0;
    std::memcpy(&value, block.data() + offset, sizeof value);
    return value;
}

void store32(SMCOutputBlock block, std::size_t offset, std::uint32_t value) {
    std::memcpy(block.data() + offset, &value, sizeof value);
}

} // namespace

SMCRequest readSMCRequest(SMCInputBlock input) {
    return {input[kKindOffset], load32(input, kKeyOffset), load32(input, kIndexOffset),
            load32(input, kDataSizeOffset)};
}

void answerSMCResult(SMCOutputBlock output, std::uint32_t key, std::uint8_t result) {
    std::fill(output.begin(), output.end(), std::uint8_t{0});
    store32(output, kKeyOffset, key);
    output[kResultOffset] = result;
}

KernReturn answerSMCRequest(const SMCKeyTable& table, const SMCRequest& request,
                            SMCOutputBlock output) {
    std::fill(output.begin(), output.end(), std::uint8_t{0});
    if (request.kind == kSMCReadIndex) {
        if (const auto key = table.keyAt(request.index)) {
            store32(output, kKeyOffset, *key);
        } else {
            output[kResultOffset] = kSMCResultKeyNotFound;
        }
        return kIOReturnSuccess;
    }
    if (request.kind != kSMCReadKeyInfo && request.kind != kSMCReadBytes) {
        return kIOReturnBadArgument;
    }
    store32(output, kKeyOffset, request.key);
    const auto info = table.keyInfo(request.key);
    if (!info) {
        output[kResultOffset] = kSMCResultKeyNotFound;
        return kIOReturnSuccess;
    }
    if (request.kind == kSMCReadKeyInfo) {
        store32(output, kDataSizeOffset, info->size);
        store32(output, kDataTypeOffset, info->type);
        output[kAttributesOffset] = info->attributes;
        return kIOReturnSuccess;
    }
    std::array<std::uint8_t, kSMCValueCapacity> bytes{};
    if (!table.valueBytes(request.key, bytes)) {
        output[kResultOffset] = kSMCResultSensorError;
        return kIOReturnSuccess;
    }
    std::copy_n(bytes.begin(), std::min<std::size_t>(request.dataSize, kSMCValueCapacity),
                output.begin() + kBytesOffset);
    return kIOReturnSuccess;
}

} // namespace brivane::platform
