#pragma once

#include "platform/smc_transport.h"

#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

namespace brivane::platform {

// The method selector of every exchange and the requests a key table answers (`data8`).
inline constexpr std::uint32_t kSMCSelector = 2;
inline constexpr std::uint8_t kSMCReadBytes = 5;
inline constexpr std::uint8_t kSMCReadIndex = 8;
inline constexpr std::uint8_t kSMCReadKeyInfo = 9;
// Results in the output block: no such key; the key's sensor gave no value this time.
inline constexpr std::uint8_t kSMCResultKeyNotFound = 0x84;
inline constexpr std::uint8_t kSMCResultSensorError = 0x01;
inline constexpr std::size_t kSMCValueCapacity = 32;

// A four-character key or type name as a code (first character most significant).
constexpr std::uint32_t smcCode(std::string_view name) {
    std::uint32_t code = 0;
    for (const char c : name) {
        code = (code << 8) | static_cast<std::uint8_t>(c);
    }
    return code;
}

// What a request block asks.
struct SMCRequest {
    std::uint8_t kind = 0;
    std::uint32_t key = 0;
    std::uint32_t index = 0;    // key index requests
    std::uint32_t dataSize = 0; // byte reads: how many bytes
};

SMCRequest readSMCRequest(SMCInputBlock input);

// What key information reports of a key.
struct SMCKeyInfo {
    std::uint32_t size = 0;
    std::uint32_t type = 0;
    std::uint8_t attributes = 0;
};

// The keys behind an SMC user client.
class SMCKeyTable {
public:
    virtual ~SMCKeyTable() = default;
    virtual std::optional<std::uint32_t> keyAt(std::uint32_t index) const = 0;
    virtual std::optional<SMCKeyInfo> keyInfo(std::uint32_t key) const = 0;
    // The value of a key that keyInfo knows, in zeroed `bytes`; false when there is none now.
    virtual bool valueBytes(std::uint32_t key,
                            std::span<std::uint8_t, kSMCValueCapacity> bytes) const = 0;
};

// Answers a request from a table the way the kernel's user client does: key by index, key
// information, or at most 32 value bytes, with result 0x84 for a key the table does not hold.
KernReturn answerSMCRequest(const SMCKeyTable& table, const SMCRequest& request,
                            SMCOutputBlock output);

// An answer that carries only the key and a result.
void answerSMCResult(SMCOutputBlock output, std::uint32_t key, std::uint8_t result);

} // namespace brivane::platform
