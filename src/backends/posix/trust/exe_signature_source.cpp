#include "backends/posix/trust/exe_signature_source.h"

#include "backends/posix/kernel_files/proc_fields.h"
#include "backends/posix/kernel_files/procfs_process_table.h"
#include "backends/posix/system/file_descriptor.h"
#include "backends/posix/system/settled_file.h"
#include "backends/posix/trust/crypto_library.h"
#include "base/hex_digits.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <climits>
#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>
#include <vector>

namespace brivane::platform::posix {
namespace {

using Unknown = SignatureVerdict::Unknown;
using Refused = SignatureVerdict::Refused;
using Admitted = SignatureVerdict::Admitted;

// The signature of an admitted verdict, nothing for any other.
std::optional<PeerSignature> signatureIn(const SignatureVerdict& verdict) {
    const auto* signature = verdict.admitted();
    return signature ? std::optional(*signature) : std::nullopt;
}

// A FIFO or device in place of a file must neither block the open nor become our terminal;
// identityOf then admits regular files only.
constexpr int openFlags = O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY;

std::optional<FileIdentity> identityOf(int fd) {
    struct stat status {};
    if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
        return std::nullopt;
    }
    constexpr std::int64_t billion = 1'000'000'000;
    return FileIdentity{static_cast<std::uint64_t>(status.st_dev),
                        static_cast<std::uint64_t>(status.st_ino),
                        static_cast<std::int64_t>(status.st_size),
                        status.st_mtim.tv_sec * billion + status.st_mtim.tv_nsec,
                        status.st_ctim.tv_sec * billion + status.st_ctim.tv_nsec};
}

// When the process started (field 22 of /proc/<pid>/stat).
std::optional<std::uint64_t> startTimeOf(std::int64_t pid) {
    if (pid < 1 || pid > INT32_MAX) {
        return std::nullopt;
    }
    return readParsed<1024>(RootedDirectory("/proc"), static_cast<std::int32_t>(pid), "stat",
                            parseStatStartTime);
}

// Whether /proc/<pid> runs in this process's own pid and user namespaces.
bool sharesNamespaces(std::int64_t pid) {
    for (const char* kind : {"pid", "user"}) {
        struct stat own {};
        struct stat peer {};
        const std::string link = std::string("/ns/") + kind;
        if (::stat(("/proc/self" + link).c_str(), &own) != 0 ||
            ::stat(("/proc/" + std::to_string(pid) + link).c_str(), &peer) != 0 ||
            own.st_dev != peer.st_dev || own.st_ino != peer.st_ino) {
            return false;
        }
    }
    return true;
}

// Whether this process's user can neither write the file at path nor put another in its place:
// it owns nothing on the way, and the only folders on the way it may write are sticky (/tmp).
bool beyondOwnUser(const std::filesystem::path& path) {
    const uid_t user = ::geteuid();
    if (::access(path.c_str(), W_OK) == 0) {
        return false;
    }
    for (auto entry = path; entry.has_relative_path(); entry = entry.parent_path()) {
        struct stat own {};
        struct stat folder {};
        const auto parent = entry.parent_path();
        if (::lstat(entry.c_str(), &own) != 0 || own.st_uid == user ||
            ::stat(parent.c_str(), &folder) != 0 ||
            (::access(parent.c_str(), W_OK) == 0 && (folder.st_mode & S_ISVTX) == 0)) {
            return false;
        }
    }
    return true;
}

// Whether the file at path is the one behind identity.
bool names(const std::string& path, const FileIdentity& identity) {
    struct stat status {};
    return ::stat(path.c_str(), &status) == 0 &&
           static_cast<std::uint64_t>(status.st_dev) == identity.device &&
           static_cast<std::uint64_t>(status.st_ino) == identity.inode;
}

std::int64_t secondsSinceEpoch() {
    return std::chrono::duration_cast<std::chrono::seconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

bool isAlive(int pidfd) {
    return ::syscall(SYS_pidfd_send_signal, pidfd, 0, nullptr, 0) == 0;
}

// Buffers on the heap: clients check their agent on threads with small stacks (an HTTP
// server's workers).
constexpr std::size_t chunkSize = 64 * 1024;

// From the start, whatever was read of fd before.
std::optional<std::string> readAll(int fd, std::int64_t limit) {
    std::string bytes;
    std::vector<char> buffer(chunkSize);
    for (;;) {
        const auto count =
            ::pread(fd, buffer.data(), buffer.size(), static_cast<off_t>(bytes.size()));
        if (count < 0 && errno == EINTR) {
            continue;
        }
        if (count < 0) {
            return std::nullopt;
        }
        if (count == 0) {
            return bytes;
        }
        bytes.append(buffer.data(), static_cast<std::size_t>(count));
        if (static_cast<std::int64_t>(bytes.size()) > limit) {
            return std::nullopt;
        }
    }
}

std::optional<std::string> sha256HexOfFile(int fd, std::int64_t limit) {
    const CryptoLibrary* crypto = cryptoLibrary();
    if (!crypto) {
        return std::nullopt;
    }
    const std::unique_ptr<EVP_MD_CTX, decltype(crypto->EVP_MD_CTX_free)> context(
        crypto->EVP_MD_CTX_new(), crypto->EVP_MD_CTX_free);
    if (!context || crypto->EVP_DigestInit_ex(context.get(), crypto->EVP_sha256(), nullptr) != 1) {
        return std::nullopt;
    }
    std::vector<char> buffer(chunkSize);
    std::int64_t total = 0;
    off_t offset = 0;
    for (;;) {
        const auto count = ::pread(fd, buffer.data(), buffer.size(), offset);
        if (count < 0 && errno == EINTR) {
            continue;
        }
        if (count < 0) {
            return std::nullopt;
        }
        if (count == 0) {
            break;
        }
        offset += count;
        total += count;
        if (total > limit || crypto->EVP_DigestUpdate(context.get(), buffer.data(),
                                                      static_cast<std::size_t>(count)) != 1) {
            return std::nullopt;
        }
    }
    std::array<unsigned char, EVP_MAX_MD_SIZE> digest{};
    unsigned int length = 0;
    if (crypto->EVP_DigestFinal_ex(context.get(), digest.data(), &length) != 1) {
        return std::nullopt;
    }
    return base::lowerHex(std::span(digest).first(length));
}

} // namespace

ExeSignatureSource::ExeSignatureSource(std::shared_ptr<const CmsVerifier> verifier,
                                       std::optional<std::string> keptVerdictsFolder)
    : verifier_(std::move(verifier)) {
    if (verifier_ && keptVerdictsFolder) {
        kept_.emplace(std::move(*keptVerdictsFolder), verifier_->anchorsPem());
    }
}

std::optional<PeerSignature> ExeSignatureSource::signatureOf(const PeerInfo& peer) {
    return signatureIn(check(peer, false));
}

SignatureVerdict ExeSignatureSource::knownSignatureOf(const PeerInfo& peer) {
    return check(peer, true);
}

bool ExeSignatureSource::hasVerdictFor(const std::string& path) {
    std::lock_guard lock(cacheMutex_);
    return std::any_of(cache_.begin(), cache_.end(),
                       [&path](const Verdict& verdict) { return verdict.path == path; });
}

SignatureVerdict ExeSignatureSource::check(const PeerInfo& peer, bool knownOnly) {
    if (peer.pid <= 0 || peer.pid > INT_MAX) {
        return Refused{};
    }
    const auto exeLink = "/proc/" + std::to_string(peer.pid) + "/exe";
    std::array<char, PATH_MAX> target{};
    if (knownOnly) {
        // The link's text comes from the kernel without touching the file system.
        const auto length = ::readlink(exeLink.c_str(), target.data(), target.size());
        if (length <= 0 || static_cast<std::size_t>(length) >= target.size() ||
            !hasVerdictFor(std::string(target.data(), static_cast<std::size_t>(length)))) {
            return Unknown{};
        }
    }
    FileDescriptor ownPidfd;
    int pidfd = peer.pidfd.value_or(-1);
    if (pidfd < 0) {
        ownPidfd = FileDescriptor(static_cast<int>(::syscall(SYS_pidfd_open, peer.pid, 0)));
        pidfd = ownPidfd.get();
    }
    const auto startedAt = startTimeOf(peer.pid);
    if (pidfd < 0 || !startedAt) {
        return Refused{};
    }
    const FileDescriptor executable(::open(exeLink.c_str(), openFlags));
    const auto targetLength = ::readlink(exeLink.c_str(), target.data(), target.size());
    if (!executable.valid() || targetLength <= 0 ||
        static_cast<std::size_t>(targetLength) >= target.size()) {
        return Refused{};
    }
    const std::string path(target.data(), static_cast<std::size_t>(targetLength));
    auto verdict = signatureOfOpened(executable.get(), path, knownOnly);
    if (verdict.unknown()) {
        return verdict;
    }
    if (auto* signature = verdict.admitted()) {
        signature->sharesNamespaces = sharesNamespaces(peer.pid);
    }
    // The process read must still be the one that connected.
    if (!isAlive(pidfd) || startTimeOf(peer.pid) != startedAt) {
        return Refused{};
    }
    return verdict;
}

std::optional<std::string> ExeSignatureSource::replacedExecutableOf(const PeerInfo& peer) {
    if (peer.pid <= 0 || peer.pid > INT_MAX || !sharesNamespaces(peer.pid)) {
        return std::nullopt;
    }
    const auto exeLink = "/proc/" + std::to_string(peer.pid) + "/exe";
    std::array<char, PATH_MAX> target{};
    const auto targetLength = ::readlink(exeLink.c_str(), target.data(), target.size());
    struct stat running {};
    if (targetLength <= 0 || static_cast<std::size_t>(targetLength) >= target.size() ||
        ::stat(exeLink.c_str(), &running) != 0) {
        return std::nullopt;
    }
    std::string path(target.data(), static_cast<std::size_t>(targetLength));
    constexpr std::string_view removed = " (deleted)";
    const bool unlinked = path.ends_with(removed);
    if (unlinked) {
        path.resize(path.size() - removed.size());
    }
    struct stat present {};
    const bool same = !unlinked && ::stat(path.c_str(), &present) == 0 &&
                      present.st_dev == running.st_dev && present.st_ino == running.st_ino;
    if (same || path.empty() || path.front() != '/' || !beyondOwnUser(path)) {
        return std::nullopt;
    }
    return path;
}

std::optional<PeerSignature> ExeSignatureSource::signatureOfFile(const std::string& path) {
    const FileDescriptor executable(::open(path.c_str(), openFlags));
    if (!executable.valid()) {
        return std::nullopt;
    }
    return signatureIn(signatureOfOpened(executable.get(), path, false));
}

SignatureVerdict ExeSignatureSource::signatureOfOpened(int executableFd, const std::string& path,
                                                       bool knownOnly) {
    // A replaced or deleted executable has no signature file that speaks for it.
    if (path.empty() || path.front() != '/' || path.ends_with(" (deleted)")) {
        return Refused{};
    }
    const FileDescriptor signature(::open((path + ".sig").c_str(), openFlags));
    const auto executableIdentity = identityOf(executableFd);
    const auto signatureIdentity = signature.valid() ? identityOf(signature.get()) : std::nullopt;
    if (!executableIdentity || !signatureIdentity) {
        return Refused{};
    }
    const auto now = std::chrono::steady_clock::now();
    {
        std::lock_guard lock(cacheMutex_);
        for (auto entry = cache_.begin(); entry != cache_.end(); ++entry) {
            if (entry->executable == *executableIdentity &&
                entry->signature == *signatureIdentity) {
                if (now - entry->checkedAt > cacheLifetime) {
                    cache_.erase(entry);
                    break;
                }
                cache_.splice(cache_.begin(), cache_, entry);
                return cache_.front().result;
            }
        }
    }
    if (knownOnly) {
        return Unknown{};
    }
    // Only a file that root alone can change may be spoken for by a verdict kept where the
    // user's programs can write.
    const bool settled = kept_ && runsAsOrdinaryUser() && onlyRootCanChange(executableFd) &&
                         onlyRootCanChange(signature.get()) && names(path, *executableIdentity) &&
                         onlyRootCanRename(path);
    auto verdict = settled ? keptSignature(signature.get(), *executableIdentity, *signatureIdentity)
                           : SignatureVerdict(Unknown{});
    std::optional<KeptVerdict> fresh;
    if (verdict.unknown()) {
        fresh = verify(executableFd, signature.get(), *executableIdentity, *signatureIdentity);
        verdict = fresh ? SignatureVerdict(Admitted{fresh->signature}) : Refused{};
    }
    // Bytes that changed while they were read give no verdict worth keeping.
    if (identityOf(executableFd) != executableIdentity ||
        identityOf(signature.get()) != signatureIdentity) {
        return Refused{};
    }
    if (settled && fresh) {
        kept_->keep(*fresh, secondsSinceEpoch());
    }
    std::lock_guard lock(cacheMutex_);
    cache_.push_front({path, *executableIdentity, *signatureIdentity, now, verdict});
    if (cache_.size() > cacheCapacity) {
        cache_.pop_back();
    }
    return verdict;
}

SignatureVerdict ExeSignatureSource::keptSignature(int signatureFd, const FileIdentity& executable,
                                                   const FileIdentity& signature) const {
    auto verdict = kept_->find(executable, signature, secondsSinceEpoch());
    if (!verdict || !verdict->signature.identifier) {
        return Unknown{};
    }
    // The signature file must still carry the signed text the verdict names, and its signer's
    // team: a verdict that another program wrote then speaks only for an executable beside
    // which root placed a signature of this format for it.
    const auto bytes = readAll(signatureFd, maximumSignatureSize);
    const auto& unit = verdict->signature.leafOrganizationalUnit;
    if (!bytes ||
        bytes->find(executableSignatureContent(*verdict->signature.identifier,
                                               verdict->executableSha256)) == std::string::npos ||
        (unit && bytes->find(*unit) == std::string::npos)) {
        return Unknown{};
    }
    return Admitted{std::move(verdict->signature)};
}

std::optional<KeptVerdict> ExeSignatureSource::verify(int executableFd, int signatureFd,
                                                      const FileIdentity& executable,
                                                      const FileIdentity& signature) {
    if (!verifier_ || executable.size > maximumExecutableSize ||
        signature.size > maximumSignatureSize) {
        return std::nullopt;
    }
    ++verifications_;
    const auto der = readAll(signatureFd, maximumSignatureSize);
    if (!der) {
        return std::nullopt;
    }
    const auto verification =
        verifier_->verify({reinterpret_cast<const unsigned char*>(der->data()), der->size()});
    if (!verification.verified || verification.chain.empty()) {
        return std::nullopt;
    }
    const auto content = parseExecutableSignatureContent(verification.content);
    const auto digest = sha256HexOfFile(executableFd, maximumExecutableSize);
    if (!content || !digest || content->executableSha256 != *digest) {
        return std::nullopt;
    }
    auto expiresAt = verification.chain.front().notAfter;
    for (const auto& certificate : verification.chain) {
        expiresAt = std::min(expiresAt, certificate.notAfter);
    }
    return KeptVerdict{executable, signature, *digest, expiresAt,
                       PeerSignature{true, content->identifier,
                                     verification.chain.front().organizationalUnit,
                                     verification.leafExtensionOids}};
}

} // namespace brivane::platform::posix
