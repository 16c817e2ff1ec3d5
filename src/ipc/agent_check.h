#pragma once

#include "platform/endpoint.h"
#include "platform/peer_signature.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

namespace brivane::ipc {

// What a client asks of the process that answers on the endpoint before it believes a byte:
// the same user, the client's own pid and user namespaces, and an executable whose code
// signature satisfies the agent's requirement (the companion's identifier under the team).
// Share one signature source across checks: its
// verdicts are cached per executable and signature file, as the agent caches its clients'.
// Thread-safe.
class AgentCheck {
public:
    AgentCheck(const std::string& team, std::shared_ptr<platform::PeerSignatureSource> signatures,
               std::uint32_t user);

    struct Refusal {
        std::string reason;
        // The peer is the team's agent from before an upgrade: refused all the same, but the
        // user is told so rather than warned of a stranger.
        bool upgraded = false;
    };

    // Nothing when the peer is the signed agent, else why it is not.
    std::optional<Refusal> refusal(const platform::PeerInfo& peer) const;

private:
    struct Parts;
    std::shared_ptr<const Parts> parts_;
};

} // namespace brivane::ipc
