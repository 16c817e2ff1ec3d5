#pragma once

#include "platform/endpoint.h"

#include <memory>
#include <optional>
#include <string>

namespace brivane::ipc {

// What a client asks of the process that answers on the endpoint before it believes a byte:
// the same user, and an executable whose code signature satisfies the agent's requirement
// (the companion's identifier under the team). Verdicts are cached per executable and
// signature file, as the agent caches its clients'. Thread-safe.
class AgentCheck {
public:
    explicit AgentCheck(const std::string& team);

    // Nothing when the sender is the signed agent, else why it is not.
    std::optional<std::string> refusal(const platform::PeerInfo& sender) const;

private:
    struct Parts;
    std::shared_ptr<const Parts> parts_;
};

} // namespace brivane::ipc
