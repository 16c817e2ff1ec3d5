#pragma once

namespace brivane::platform::posix {

// Installs pthread names (cut to 15 characters) and per-thread nice values as the way the
// queues' threads are named and prioritised.
void installPthreadNaming();

} // namespace brivane::platform::posix
