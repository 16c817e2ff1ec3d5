#include "platform/linux/registry_linux.h"

namespace brivane::platform::linux_backend {
namespace {

class EndedIterator final : public RegistryIterator {
public:
    std::unique_ptr<RegistryEntry> next() override { return nullptr; }
};

} // namespace

std::unique_ptr<RegistryEntry> EmptyRegistry::firstEntry(std::string_view) {
    return nullptr;
}

std::unique_ptr<RegistryIterator> EmptyRegistry::matchingEntries(std::string_view) {
    return std::make_unique<EndedIterator>();
}

} // namespace brivane::platform::linux_backend
