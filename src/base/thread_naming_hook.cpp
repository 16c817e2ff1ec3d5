#include "base/thread_naming_hook.h"

#include <atomic>

namespace brivane::base {
namespace {

// Constant-initialised, so installing from a static initialiser of any unit is safe.
constinit std::atomic<void (*)(std::string_view)> nameHook{nullptr};
constinit std::atomic<void (*)(ThreadPriority)> priorityHook{nullptr};

} // namespace

void installThreadNaming(ThreadNaming naming) {
    nameHook.store(naming.name, std::memory_order_release);
    priorityHook.store(naming.priority, std::memory_order_release);
}

void setCurrentThreadName(std::string_view name) {
    if (const auto hook = nameHook.load(std::memory_order_acquire)) {
        hook(name);
    }
}

void setCurrentThreadPriority(ThreadPriority priority) {
    if (const auto hook = priorityHook.load(std::memory_order_acquire)) {
        hook(priority);
    }
}

} // namespace brivane::base
