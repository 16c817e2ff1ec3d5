#pragma once

#include <string_view>

namespace brivane::platform {

// Names the calling thread for debuggers and process listings; the platform may truncate.
void setCurrentThreadName(std::string_view name);

// How much of the processor a thread may claim against the others of the process.
enum class ThreadPriority {
    normal,
    // Background work whose result nobody waits on interactively: it yields to normal threads.
    utility,
};

// Applies a priority to the calling thread; best effort, a refusal leaves it unchanged.
void setCurrentThreadPriority(ThreadPriority priority);

} // namespace brivane::platform
