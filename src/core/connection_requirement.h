#pragma once

#include "ipc/listener.h"

#include <string>

namespace brivane {

// Installs the client requirement text as the listener's admission rule, so that only peers
// whose code signature satisfies it reach the service. This is the single place where the
// requirement meets the listener.
void installConnectionRequirement(ipc::Listener& listener, const std::string& requirement);

} // namespace brivane
