#pragma once

#include "platform/host/cms_signature.h"
#include "platform/peer_signature.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <list>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

namespace brivane::platform::host {

// Which bytes a verdict was reached on: the executable and its signature file, by device,
// inode, size, modification and change time.
struct FileIdentity {
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
    std::int64_t size = 0;
    std::int64_t modified = 0; // nanoseconds
    std::int64_t changed = 0;  // nanoseconds
    bool operator==(const FileIdentity&) const = default;
};

// Reads a peer's signature through /proc/<pid>/exe and the detached "<executable>.sig" next to
// it, verified with CMS to the build's anchors and bound to the executable's SHA-256. The pid
// is pinned with a pidfd and the process start time is compared again after reading, so a
// process that exits and whose pid is reused meanwhile is refused. Verdicts are cached per
// executable and signature identity so reconnecting clients are not hashed again; whether the
// process shares this one's namespaces is looked up each time.
class ExeSignatureSource final : public PeerSignatureSource {
public:
    static constexpr std::size_t cacheCapacity = 64;
    static constexpr std::chrono::seconds cacheLifetime{60};
    // Larger executables are refused before any byte is hashed: hashing is the costly part of
    // admission, and no client comes near this.
    static constexpr std::int64_t maximumExecutableSize = std::int64_t{256} << 20;
    static constexpr std::int64_t maximumSignatureSize = std::int64_t{1} << 20;

    explicit ExeSignatureSource(std::shared_ptr<const CmsVerifier> verifier);

    std::optional<PeerSignature> signatureOf(const PeerInfo& peer) override;

    std::optional<std::string> replacedExecutableOf(const PeerInfo& peer) override;
    // Through the same cache.
    std::optional<PeerSignature> signatureOfFile(const std::string& path) override;

private:
    struct Verdict {
        FileIdentity executable;
        FileIdentity signature;
        std::chrono::steady_clock::time_point checkedAt;
        std::optional<PeerSignature> result;
    };

    std::optional<PeerSignature> signatureOfOpened(int executableFd, const std::string& path);
    std::optional<PeerSignature> verify(int executableFd, int signatureFd,
                                        const FileIdentity& executable,
                                        const FileIdentity& signature) const;

    std::shared_ptr<const CmsVerifier> verifier_;
    std::mutex cacheMutex_;
    std::list<Verdict> cache_; // most recent first
};

} // namespace brivane::platform::host
