#pragma once

#include "platform/smc_key_data.h"
#include "platform/smc_transport.h"

#include <cstdint>
#include <optional>
#include <span>

namespace brivane::platform {

// What a request block asks.
struct SMCRequest {
    std::uint8_t kind = 0; // an SMCKeys raw value, or anything a client sent
    std::uint32_t key = 0;
    std::uint32_t index = 0;    // key index requests
    std::uint32_t dataSize = 0; // byte reads: how many bytes
};

SMCRequest readSMCRequest(SMCInputBlock input);

// Whether a request is of this kind.
constexpr bool isRequest(const SMCRequest& request, SMCKeys kind) {
    return request.kind == rawValue(kind);
}

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
