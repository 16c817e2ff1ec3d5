#include "core/connection_requirement.h"

namespace brivane {

// Signature checking is not wired in yet: until it is, the listener's own same-user rule is
// the only admission check and the requirement text is not evaluated.
void installConnectionRequirement(Listener&, const std::string&) {}

} // namespace brivane
