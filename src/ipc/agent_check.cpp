#include "ipc/agent_check.h"

#include "identity/code_requirement.h"
#include "identity/sensor_companion_identity.h"
#include "platform/peer_signature.h"

#include <thread>

namespace brivane::ipc {

struct AgentCheck::Parts {
    std::optional<identity::CodeRequirement> requirement;
    std::shared_ptr<platform::PeerSignatureSource> signatures;
    std::uint32_t user;
};

AgentCheck::AgentCheck(const std::string& team,
                       std::shared_ptr<platform::PeerSignatureSource> signatures,
                       std::uint32_t user)
    : parts_(std::make_shared<const Parts>(
          Parts{identity::CodeRequirement::parse(
                    SensorCompanionIdentity::requirement(SensorCompanionIdentity::helper, team)),
                std::move(signatures), user})) {}

std::optional<std::string> AgentCheck::refusal(const platform::PeerInfo& peer) const {
    if (peer.uid != parts_->user) {
        return "it runs as user " + std::to_string(peer.uid) + ", not as this user";
    }
    if (peer.pid <= 0) {
        return "it runs in a pid namespace this client cannot see";
    }
    // On a thread of its own: certificate parsing needs more stack than some callers have
    // (an HTTP server's workers).
    std::optional<platform::PeerSignature> signature;
    std::thread([&] { signature = parts_->signatures->signatureOf(peer); }).join();
    if (!signature) {
        return "its executable carries no valid signature";
    }
    if (!parts_->requirement || !parts_->requirement->isSatisfiedBy(*signature)) {
        return "it is signed as " + signature->identifier.value_or("nothing") + " of team " +
               signature->leafOrganizationalUnit.value_or("none") +
               ", not as the sensor agent of this team";
    }
    if (!signature->sharesNamespaces) {
        return "it runs in another pid or user namespace than this client";
    }
    return std::nullopt;
}

} // namespace brivane::ipc
