#include "ipc/agent_check.h"

#include "identity/code_requirement.h"
#include "identity/sensor_companion_identity.h"
#include "platform/peer_signature.h"

#include <thread>

namespace brivane::ipc {
namespace {

// Set while the program starts, which is on its main thread.
const std::thread::id mainThread = std::this_thread::get_id();

} // namespace

struct AgentCheck::Parts {
    std::optional<identity::CodeRequirement> requirement;
    std::shared_ptr<platform::PeerSignatureSource> signatures;
    std::uint32_t user;
};

AgentCheck::AgentCheck(const std::string& team,
                       std::shared_ptr<platform::PeerSignatureSource> signatures,
                       std::uint32_t user)
    : parts_(std::make_shared<const Parts>(
          Parts{identity::CodeRequirement::parse(identity::SensorCompanionIdentity::requirement(
                    identity::SensorCompanionIdentity::helper, team)),
                std::move(signatures), user})) {}

std::optional<AgentCheck::Refusal> AgentCheck::refusal(const platform::PeerInfo& peer) const {
    if (peer.uid != parts_->user) {
        return Refusal{"it runs as user " + std::to_string(peer.uid) + ", not as this user"};
    }
    if (peer.pid <= 0) {
        return Refusal{"it runs in a pid namespace this client cannot see"};
    }
    const auto satisfies = [this](const std::optional<platform::PeerSignature>& signature) {
        return signature && parts_->requirement && parts_->requirement->isSatisfiedBy(*signature);
    };
    // Certificate parsing needs more stack than some callers have (an HTTP server's workers):
    // elsewhere than on the main thread, which has the process's whole stack, it runs on a
    // thread of its own. A client's single request is spared starting one.
    std::optional<platform::PeerSignature> signature;
    bool upgraded = false;
    const auto check = [&] {
        signature = parts_->signatures->signatureOf(peer);
        // An upgrade replaces the agent's executable under the running agent, which then has
        // no signature to show and stays refused like any unsigned process. Only the wording
        // changes, and only when the path it was started from now holds the team's signed agent
        // and lies beyond this user's reach: a program of the user's cannot arrange that, and
        // one that could would still get no answer believed.
        if (!signature) {
            const auto path = parts_->signatures->replacedExecutableOf(peer);
            upgraded = path && satisfies(parts_->signatures->signatureOfFile(*path));
        }
    };
    if (std::this_thread::get_id() == mainThread) {
        check();
    } else {
        std::thread(check).join();
    }
    if (!signature) {
        return upgraded ? Refusal{"its executable was replaced since it started", true}
                        : Refusal{"its executable carries no valid signature"};
    }
    if (!satisfies(signature)) {
        return Refusal{"it is signed as " + signature->identifier.value_or("nothing") +
                       " of team " + signature->leafOrganizationalUnit.value_or("none") +
                       ", not as the sensor agent of this team"};
    }
    if (!signature->sharesNamespaces) {
        return Refusal{"it runs in another pid or user namespace than this client"};
    }
    return std::nullopt;
}

} // namespace brivane::ipc
