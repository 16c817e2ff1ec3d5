#pragma once

#include "platform/endpoint.h"

#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <variant>
#include <vector>

namespace brivane::platform {

// What a peer's code signature proves about it. Fields are filled only from a signature that
// verified cryptographically; `anchored` says whether its chain also reached a trust anchor.
struct PeerSignature {
    bool anchored = false;
    std::optional<std::string> identifier;
    std::optional<std::string> leafOrganizationalUnit;
    std::vector<std::string> leafExtensionOids; // dotted form, e.g. "2.5.29.19"
    // The process runs in the reader's own pid and user namespaces. One in a namespace of its
    // own may see files and processes its maker arranged, and may be named by forged
    // credentials; only a process checked through signatureOf can say.
    bool sharesNamespaces = false;
};

// What is known of a peer's signature: no verdict yet (only a full check can tell), refused, or
// admitted with its signature. Made only from one of the three named alternatives, never from
// an optional or a bool, so that "refused" and "ask again" cannot be swapped by a slip.
class SignatureVerdict {
public:
    struct Unknown {};
    struct Refused {};
    struct Admitted {
        PeerSignature signature;
    };

    SignatureVerdict(Unknown unknown) : value_(unknown) {}
    SignatureVerdict(Refused refused) : value_(refused) {}
    SignatureVerdict(Admitted admitted) : value_(std::move(admitted)) {}

    bool unknown() const { return std::holds_alternative<Unknown>(value_); }
    bool refused() const { return std::holds_alternative<Refused>(value_); }
    // The signature when admitted, else null.
    const PeerSignature* admitted() const {
        const auto* admitted = std::get_if<Admitted>(&value_);
        return admitted ? &admitted->signature : nullptr;
    }
    PeerSignature* admitted() {
        auto* admitted = std::get_if<Admitted>(&value_);
        return admitted ? &admitted->signature : nullptr;
    }

private:
    std::variant<Unknown, Refused, Admitted> value_;
};

// Finds and checks the code signature of the process behind a connection.
class PeerSignatureSource {
public:
    virtual ~PeerSignatureSource() = default;
    // Absent when the peer is gone, unsigned, altered after signing or not verifiable.
    virtual std::optional<PeerSignature> signatureOf(const PeerInfo& peer) = 0;
    // signatureOf's answer when the source already holds a verdict on the peer's executable as
    // it is now, found without hashing or reading any file of the peer's; unknown when only
    // signatureOf can tell. Cheap enough for an event loop.
    virtual SignatureVerdict knownSignatureOf(const PeerInfo& peer) {
        (void)peer;
        return SignatureVerdict::Unknown{};
    }
    // The path the peer's executable was started from, when the file there is no longer the one
    // it runs (replaced or removed since it started, as by an upgrade) and this process's user
    // cannot change what stands at that path; absent otherwise.
    virtual std::optional<std::string> replacedExecutableOf(const PeerInfo& peer) {
        (void)peer;
        return std::nullopt;
    }
    // The signature of the executable at a path, as signatureOf would find it for a process
    // started from there.
    virtual std::optional<PeerSignature> signatureOfFile(const std::string& path) {
        (void)path;
        return std::nullopt;
    }
};

// The platform's source; defined by the back end the executable links.
std::shared_ptr<PeerSignatureSource> makeDefaultPeerSignatureSource();

} // namespace brivane::platform
