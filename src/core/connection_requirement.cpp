#include "core/connection_requirement.h"

#include "identity/code_requirement.h"
#include "platform/peer_signature.h"

#include <memory>

namespace brivane {

// A requirement that does not parse admits nobody rather than everybody.
void installConnectionRequirement(ipc::Listener& listener, const std::string& requirement) {
    auto parsed = identity::CodeRequirement::parse(requirement);
    if (!parsed) {
        listener.setAdmission([](const platform::PeerInfo&) { return false; });
        return;
    }
    auto rule = std::make_shared<const identity::CodeRequirement>(std::move(*parsed));
    auto signatures = platform::makeDefaultPeerSignatureSource();
    listener.setAdmission(
        [rule, signatures](const platform::PeerInfo& peer) {
            const auto signature = signatures->signatureOf(peer);
            return signature && rule->isSatisfiedBy(*signature);
        },
        [rule, signatures](const platform::PeerInfo& peer) -> platform::SignatureVerdict {
            auto known = signatures->knownSignatureOf(peer);
            const auto* signature = known.admitted();
            if (signature && !rule->isSatisfiedBy(*signature)) {
                return platform::SignatureVerdict::Refused{};
            }
            return known;
        });
}

} // namespace brivane
