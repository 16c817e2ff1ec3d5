#pragma once

namespace brivane::platform::host {

// Installs pthread names (cut to 15 characters) and per-thread nice values as the way the
// queues' threads are named and prioritised.
void installThreadNaming();

} // namespace brivane::platform::host
