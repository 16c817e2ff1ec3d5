// The requirement parser over arbitrary text, and evaluation of whatever parses against a few
// fixed signatures.
#include "identity/code_requirement.h"

#include <cstddef>
#include <cstdint>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const auto requirement = brivane::identity::CodeRequirement::parse(text);
    if (!requirement) {
        return 0;
    }
    using brivane::platform::PeerSignature;
    static const PeerSignature signatures[] = {
        {},
        {true, "dev.qorva.brivane", "BRVNDEV000", {}},
        {true, "dev.qorva.brivane", std::nullopt, {"1.2.840.113635.100.6.1.9"}},
        {false, "a", "", {"1.2"}},
    };
    for (const auto& signature : signatures) {
        requirement->isSatisfiedBy(signature);
    }
    // Every clause needs some property: a signature that proves nothing satisfies none.
    if (requirement->isSatisfiedBy(signatures[0])) {
        __builtin_trap();
    }
    return 0;
}
