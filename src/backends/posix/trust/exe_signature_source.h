#pragma once

#include "backends/posix/trust/cms_signature.h"
#include "backends/posix/trust/kept_verdicts.h"
#include "platform/peer_signature.h"

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <list>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

namespace brivane::platform::posix {

// Reads a peer's signature through /proc/<pid>/exe and the detached "<executable>.sig" next to
// it, verified with CMS to the build's anchors and bound to the executable's SHA-256. The pid
// is pinned with a pidfd and the process start time is compared again after reading, so a
// process that exits and whose pid is reused meanwhile is refused. Verdicts are cached per
// executable and signature identity so reconnecting clients are not hashed again; whether the
// process shares this one's namespaces is looked up each time.
//
// Given a folder, verdicts on executables that only root can change (onlyRootCanChange and
// onlyRootCanRename, for the executable and its signature file) are also kept there for later
// processes, and taken from there only for such files, while the signature file still carries
// the signed text the verdict names. A program of the user can write that folder, but a
// verdict it forges can only speak for a file root installed beside a signature file of this
// format: see docs/security.md.
class ExeSignatureSource final : public PeerSignatureSource {
public:
    static constexpr std::size_t cacheCapacity = 64;
    static constexpr std::chrono::seconds cacheLifetime{60};
    // Larger executables are refused before any byte is hashed: hashing is the costly part of
    // admission, and no client comes near this.
    static constexpr std::int64_t maximumExecutableSize = std::int64_t{256} << 20;
    static constexpr std::int64_t maximumSignatureSize = std::int64_t{1} << 20;

    explicit ExeSignatureSource(std::shared_ptr<const CmsVerifier> verifier,
                                std::optional<std::string> keptVerdictsFolder = std::nullopt);

    std::optional<PeerSignature> signatureOf(const PeerInfo& peer) override;
    // Only for an executable at a path a cached verdict was reached for: an unknown one could
    // sit on a file system that is slow to open.
    SignatureVerdict knownSignatureOf(const PeerInfo& peer) override;

    std::optional<std::string> replacedExecutableOf(const PeerInfo& peer) override;
    // Through the same cache.
    std::optional<PeerSignature> signatureOfFile(const std::string& path) override;

    // How many times an executable was hashed and its signature verified.
    std::size_t verifications() const { return verifications_; }

private:
    struct Verdict {
        std::string path;
        FileIdentity executable;
        FileIdentity signature;
        std::chrono::steady_clock::time_point checkedAt;
        SignatureVerdict result; // refused or admitted
    };

    // Unknown only when knownOnly and no cached verdict applies.
    SignatureVerdict check(const PeerInfo& peer, bool knownOnly);
    SignatureVerdict signatureOfOpened(int executableFd, const std::string& path, bool knownOnly);
    bool hasVerdictFor(const std::string& path);
    std::optional<KeptVerdict> verify(int executableFd, int signatureFd,
                                      const FileIdentity& executable,
                                      const FileIdentity& signature);
    // Admitted by a kept verdict, else unknown: none applies, and only verify() can tell.
    SignatureVerdict keptSignature(int signatureFd, const FileIdentity& executable,
                                   const FileIdentity& signature) const;

    std::shared_ptr<const CmsVerifier> verifier_;
    std::optional<KeptVerdicts> kept_;
    std::atomic<std::size_t> verifications_ = 0;
    std::mutex cacheMutex_;
    std::list<Verdict> cache_; // most recent first
};

} // namespace brivane::platform::posix
