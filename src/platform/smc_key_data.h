#pragma once

#include "platform/smc_transport.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>
#include <span>
#include <string_view>
#include <type_traits>

namespace brivane::platform {

// The parameter block of the SMC user client and its nested blocks, the one layout both the
// client and every server of it (the back ends, the simulator) read and write. Alignment gaps
// are named members so that a block has no indeterminate bytes: a request starts all zero.

// Key and type names of the SMC: four characters, the first in the most significant byte.
// Callers check for exactly four ASCII characters first; longer input keeps its last four
// bytes, shorter input fills from the low end.
constexpr std::uint32_t fourCharCode(std::string_view name) {
    std::uint32_t code = 0;
    for (const char c : name) {
        code = (code << 8) | static_cast<std::uint8_t>(c);
    }
    return code;
}

// The most value bytes one exchange carries.
inline constexpr std::size_t kSMCValueCapacity = 32;

struct vers_t {
    std::uint8_t major = 0;
    std::uint8_t minor = 0;
    std::uint8_t build = 0;
    std::uint8_t reserved = 0;
    std::uint16_t release = 0;
};

struct LimitData_t {
    std::uint16_t version = 0;
    std::uint16_t length = 0;
    std::uint32_t cpuPLimit = 0;
    std::uint32_t gpuPLimit = 0;
    std::uint32_t memPLimit = 0;
};

// Nine bytes without tail padding: the next field of the block follows at offset 37.
#pragma pack(push, 1)
struct keyInfo_t {
    std::uint32_t dataSize = 0;
    std::uint32_t dataType = 0;
    std::uint8_t dataAttributes = 0;
};
#pragma pack(pop)

struct SMCKeyData_t {
    std::uint32_t key = 0;
    vers_t vers;
    std::array<std::uint8_t, 2> versAlignment{};
    LimitData_t pLimitData;
    keyInfo_t keyInfo;
    std::uint8_t keyInfoAlignment = 0;
    std::uint16_t padding = 0;
    std::uint8_t result = 0;
    std::uint8_t status = 0;
    std::uint8_t data8 = 0;
    std::uint8_t data8Alignment = 0;
    std::uint32_t data32 = 0;
    std::array<std::uint8_t, kSMCValueCapacity> bytes{};
};

static_assert(sizeof(vers_t) == 6 && offsetof(vers_t, major) == 0 && offsetof(vers_t, minor) == 1 &&
              offsetof(vers_t, build) == 2 && offsetof(vers_t, reserved) == 3 &&
              offsetof(vers_t, release) == 4);
static_assert(sizeof(LimitData_t) == 16 && offsetof(LimitData_t, version) == 0 &&
              offsetof(LimitData_t, length) == 2 && offsetof(LimitData_t, cpuPLimit) == 4 &&
              offsetof(LimitData_t, gpuPLimit) == 8 && offsetof(LimitData_t, memPLimit) == 12);
static_assert(sizeof(keyInfo_t) == 9 && offsetof(keyInfo_t, dataSize) == 0 &&
              offsetof(keyInfo_t, dataType) == 4 && offsetof(keyInfo_t, dataAttributes) == 8);
static_assert(sizeof(SMCKeyData_t) == platform::kSMCParamBlockSize);
static_assert(offsetof(SMCKeyData_t, key) == 0 && offsetof(SMCKeyData_t, vers) == 4 &&
              offsetof(SMCKeyData_t, pLimitData) == 12 && offsetof(SMCKeyData_t, keyInfo) == 28 &&
              offsetof(SMCKeyData_t, padding) == 38 && offsetof(SMCKeyData_t, result) == 40 &&
              offsetof(SMCKeyData_t, status) == 41 && offsetof(SMCKeyData_t, data8) == 42 &&
              offsetof(SMCKeyData_t, data32) == 44 && offsetof(SMCKeyData_t, bytes) == 48);
static_assert(std::is_trivially_copyable_v<SMCKeyData_t> &&
              std::has_unique_object_representations_v<SMCKeyData_t>);

// The block's bytes as the transport sends and receives them.
inline SMCInputBlock blockBytes(const SMCKeyData_t& block) {
    return SMCInputBlock(reinterpret_cast<const std::uint8_t*>(&block), sizeof(SMCKeyData_t));
}
inline SMCOutputBlock blockBytes(SMCKeyData_t& block) {
    return SMCOutputBlock(reinterpret_cast<std::uint8_t*>(&block), sizeof(SMCKeyData_t));
}
// A received block as the struct (the bytes may sit at any alignment).
inline SMCKeyData_t keyData(SMCInputBlock bytes) {
    SMCKeyData_t block;
    std::memcpy(&block, bytes.data(), sizeof block);
    return block;
}

// Results in an answered block: no such key; the key's sensor gave no value this time.
inline constexpr std::uint8_t kSMCResultKeyNotFound = 0x84;
inline constexpr std::uint8_t kSMCResultSensorError = 0x01;

// Request kinds, written into `data8`; `kernelIndex` is the method selector of every exchange.
enum class SMCKeys : std::uint8_t {
    kernelIndex = 2,
    readBytes = 5,
    readIndex = 8,
    readKeyInfo = 9,
    readPLimit = 11,
    readVers = 12,
};

constexpr std::optional<SMCKeys> smcKeysFromRawValue(std::uint8_t raw) {
    switch (raw) {
    case 2:
    case 5:
    case 8:
    case 9:
    case 11:
    case 12:
        return static_cast<SMCKeys>(raw);
    default:
        return std::nullopt;
    }
}

constexpr std::uint8_t rawValue(SMCKeys kind) {
    return static_cast<std::uint8_t>(kind);
}

} // namespace brivane::platform
