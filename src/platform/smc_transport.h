#pragma once

#include "platform/io_return.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string_view>

namespace brivane::platform {

// Size of the parameter block exchanged with the SMC user client, both ways.
inline constexpr std::size_t kSMCParamBlockSize = 80;

using SMCInputBlock = std::span<const std::uint8_t, kSMCParamBlockSize>;
using SMCOutputBlock = std::span<std::uint8_t, kSMCParamBlockSize>;

// The step of opening that failed; each is reported with its own message.
enum class SMCOpenStep {
    matchingServices, // asking for the services of class "AppleSMC"
    iteratorNext,     // no such service
    serviceOpen,      // opening the user client on the first service
    absent,           // the machine has no SMC at all: said once, in the transport's words
};

struct SMCOpenFailure {
    SMCOpenStep step = SMCOpenStep::matchingServices;
    KernReturn code = kIOReturnSuccess;
};

// A connection handle (never 0) or the step that failed.
struct SMCOpenResult {
    std::uint32_t connection = 0;
    std::optional<SMCOpenFailure> failure;
};

// The kernel side of the SMC: the user client of the "AppleSMC" service. Implementations must
// accept calls from several threads at once (key enumeration does not serialise its calls).
class SMCTransport {
public:
    virtual ~SMCTransport() = default;

    virtual SMCOpenResult open() = 0;
    // One exchange of an 80-byte parameter block with the given method selector. On success
    // (0) the whole output block is written; otherwise it may hold anything.
    virtual KernReturn call(std::uint32_t connection, std::uint32_t selector, SMCInputBlock input,
                            SMCOutputBlock output) = 0;
    virtual KernReturn close(std::uint32_t connection) = 0;
    // A NUL-terminated description of a code, or null.
    virtual const char* errorText(KernReturn code) const = 0;
    // Why opening found no SMC (step `absent`), for the one line that says so.
    virtual std::string_view absenceNote() const { return {}; }
};

// The platform's SMC; defined by the back end the executable links.
std::shared_ptr<SMCTransport> makeDefaultSMCTransport();

} // namespace brivane::platform
