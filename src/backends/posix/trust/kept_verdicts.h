#pragma once

#include "platform/peer_signature.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace brivane::platform::posix {

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

// A signature that verified, with what it was reached on and how long it may stand.
struct KeptVerdict {
    FileIdentity executable;
    FileIdentity signatureFile;
    std::string executableSha256;
    std::int64_t expiresAt = 0; // the chain's earliest end of validity, seconds since the epoch
    PeerSignature signature;    // its namespace field is not kept
};

// Verdicts kept between processes in a file of the user's private runtime directory, so that
// the next client to check the agent need not hash and verify it again. The file holds the
// verdicts of one set of trust anchors; another build's counts as empty. A file that is not this
// user's, not private, larger than maximumFileBytes or not entirely well-formed counts as empty and
// is rewritten on the next keep(). The file is only as trustworthy as the user's other programs:
// see the caller.
class KeptVerdicts {
public:
    static constexpr std::size_t capacity = 16;
    static constexpr std::int64_t maximumFileBytes = 16 * 1024;
    static constexpr std::string_view fileName = "brivane-signature-verdicts";

    KeptVerdicts(std::string folder, std::string_view anchorsPem);

    std::optional<KeptVerdict> find(const FileIdentity& executable, const FileIdentity& signature,
                                    std::int64_t now) const;
    void keep(const KeptVerdict& verdict, std::int64_t now) const;

private:
    std::vector<KeptVerdict> read() const;

    std::string path_;
    std::string folder_;
    std::string header_; // names the format and a digest of the anchors' text
};

} // namespace brivane::platform::posix
