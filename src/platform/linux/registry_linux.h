#pragma once

#include "platform/registry.h"

namespace brivane::platform::linux_backend {

// Linux has no device registry of the kind the companion reads: no battery entry and an empty
// (but successful) accelerator walk, so those readings are simply absent.
class EmptyRegistry final : public Registry {
public:
    std::unique_ptr<RegistryEntry> firstEntry(std::string_view className) override;
    std::unique_ptr<RegistryIterator> matchingEntries(std::string_view className) override;
};

} // namespace brivane::platform::linux_backend
