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
        [rule, signatures](const platform::PeerInfo& peer) -> std::optional<bool> {
            const auto known = signatures->knownSignatureOf(peer);
            if (!known) {
                return std::nullopt;
            }
            return *known && rule->isSatisfiedBy(**known);
        });
}

} // namespace brivane
