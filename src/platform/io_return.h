#pragma once

#include <cstdint>

namespace brivane::platform {

// A kernel or I/O Kit return code; 0 is success.
using KernReturn = std::int32_t;

inline constexpr KernReturn kIOReturnSuccess = 0;
inline constexpr KernReturn kIOReturnError = static_cast<KernReturn>(0xE00002BCu);
inline constexpr KernReturn kIOReturnBadArgument = static_cast<KernReturn>(0xE00002C2u);
inline constexpr KernReturn kIOReturnNotFound = static_cast<KernReturn>(0xE00002F0u);
// What a message to a connection that was never opened (or is closed) returns.
inline constexpr KernReturn kMachSendInvalidDest = static_cast<KernReturn>(0x10000003u);

// The platform's description of a code, for the codes the companion meets; "unknown error"
// for any other. Never null.
constexpr const char* machErrorString(KernReturn code) {
    switch (code) {
    case kIOReturnSuccess:
        return "(os/kern) successful";
    case kIOReturnError:
        return "(iokit/common) general error";
    case kIOReturnBadArgument:
        return "(iokit/common) invalid argument";
    case kIOReturnNotFound:
        return "(iokit/common) data was not found";
    case kMachSendInvalidDest:
        return "(ipc/send) invalid destination port";
    default:
        return "unknown error";
    }
}

} // namespace brivane::platform
