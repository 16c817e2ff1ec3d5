#pragma once

#include <string_view>

namespace brivane::base {

// How much of the processor a thread may claim against the others of the process.
enum class ThreadPriority {
    normal,
    // Background work whose result nobody waits on interactively: it yields to normal threads.
    utility,
};

// Names the calling thread for debuggers and process listings; the platform may truncate.
void setCurrentThreadName(std::string_view name);

// Applies a priority to the calling thread; best effort, a refusal leaves it unchanged.
void setCurrentThreadPriority(ThreadPriority priority);

// How the host names threads and applies priorities. Naming is the host's business, but the
// queues here start the threads: the host installs its way before the first one starts, and
// until then both calls above do nothing.
struct ThreadNaming {
    void (*name)(std::string_view name) = nullptr;
    void (*priority)(ThreadPriority priority) = nullptr;
};

void installThreadNaming(ThreadNaming naming);

} // namespace brivane::base
