#include "backends/posix/trust/kept_verdicts.h"

#include "backends/posix/system/file_descriptor.h"
#include "backends/posix/system/replaced_file.h"
#include "backends/posix/system/unix_endpoints.h"
#include "base/hex_digits.h"
#include "base/whole_number.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace brivane::platform::posix {
namespace {

// Tells one build's anchors from another's; the file is the user's to write anyway, so this
// needs no strength, and it costs no cryptographic library start-up.
std::string anchorsDigest(std::string_view pem) {
    std::uint64_t hash = 0xcbf29ce484222325;
    for (const char c : pem) {
        hash = (hash ^ static_cast<unsigned char>(c)) * 0x100000001b3;
    }
    std::array<unsigned char, sizeof hash> bytes{};
    for (auto& byte : bytes) {
        byte = static_cast<unsigned char>(hash);
        hash >>= 8;
    }
    return base::lowerHex(bytes);
}

std::string hexOf(std::string_view text) {
    return base::lowerHex({reinterpret_cast<const unsigned char*>(text.data()), text.size()});
}

std::optional<std::string> textOfHex(std::string_view hex) {
    if (hex.empty() || hex.size() % 2 != 0 ||
        hex.find_first_not_of("0123456789abcdef") != std::string_view::npos) {
        return std::nullopt;
    }
    std::string text;
    for (std::size_t at = 0; at < hex.size(); at += 2) {
        text.push_back(
            static_cast<char>(base::wholeNumber<unsigned>(hex.substr(at, 2), 16).value_or(0)));
    }
    return text;
}

std::vector<std::string_view> split(std::string_view text, char separator) {
    std::vector<std::string_view> parts;
    for (std::size_t start = 0;;) {
        const auto end = text.find(separator, start);
        parts.push_back(text.substr(start, end - start));
        if (end == std::string_view::npos) {
            return parts;
        }
        start = end + 1;
    }
}

void appendIdentity(std::string& line, const FileIdentity& file) {
    for (const auto number : {file.device, file.inode}) {
        line += std::to_string(number) + ' ';
    }
    for (const auto number : {file.size, file.modified, file.changed}) {
        line += std::to_string(number) + ' ';
    }
}

std::optional<FileIdentity> identityOf(const std::vector<std::string_view>& fields,
                                       std::size_t first) {
    const auto device = base::wholeNumber<std::uint64_t>(fields[first]);
    const auto inode = base::wholeNumber<std::uint64_t>(fields[first + 1]);
    const auto size = base::wholeNumber<std::int64_t>(fields[first + 2]);
    const auto modified = base::wholeNumber<std::int64_t>(fields[first + 3]);
    const auto changed = base::wholeNumber<std::int64_t>(fields[first + 4]);
    if (!device || !inode || !size || !modified || !changed) {
        return std::nullopt;
    }
    return FileIdentity{*device, *inode, *size, *modified, *changed};
}

// Executable identity (5 fields), signature file identity (5), expiry, executable digest, then
// the signature's identifier, organisational unit ("-": none) and leaf extensions ("-": none).
std::string lineOf(const KeptVerdict& verdict) {
    std::string line;
    appendIdentity(line, verdict.executable);
    appendIdentity(line, verdict.signatureFile);
    const auto& signature = verdict.signature;
    line += std::to_string(verdict.expiresAt) + ' ' + verdict.executableSha256 + ' ' +
            hexOf(signature.identifier.value_or("")) + ' ' +
            (signature.leafOrganizationalUnit ? hexOf(*signature.leafOrganizationalUnit) : "-") +
            ' ';
    std::string oids;
    for (const auto& oid : signature.leafExtensionOids) {
        oids += (oids.empty() ? "" : ",") + oid;
    }
    return line + (oids.empty() ? "-" : oids) + '\n';
}

std::optional<KeptVerdict> verdictOf(std::string_view line) {
    const auto fields = split(line, ' ');
    if (fields.size() != 15) {
        return std::nullopt;
    }
    KeptVerdict verdict;
    const auto executable = identityOf(fields, 0);
    const auto signatureFile = identityOf(fields, 5);
    const auto expiresAt = base::wholeNumber<std::int64_t>(fields[10]);
    const auto identifier = textOfHex(fields[12]);
    const auto unit = fields[13] == "-" ? std::optional<std::string>() : textOfHex(fields[13]);
    if (!executable || !signatureFile || !expiresAt || fields[11].size() != 64 ||
        !textOfHex(fields[11]) || !identifier || (fields[13] != "-" && !unit) ||
        fields[14].empty()) {
        return std::nullopt;
    }
    verdict.executable = *executable;
    verdict.signatureFile = *signatureFile;
    verdict.expiresAt = *expiresAt;
    verdict.executableSha256 = fields[11];
    verdict.signature.anchored = true;
    verdict.signature.identifier = identifier;
    verdict.signature.leafOrganizationalUnit = unit;
    if (fields[14] != "-") {
        for (const auto oid : split(fields[14], ',')) {
            if (oid.empty() || oid.find_first_not_of("0123456789.") != std::string_view::npos) {
                return std::nullopt;
            }
            verdict.signature.leafExtensionOids.emplace_back(oid);
        }
    }
    return verdict;
}

} // namespace

KeptVerdicts::KeptVerdicts(std::string folder, std::string_view anchorsPem)
    : path_(folder + "/" + std::string(fileName)), folder_(std::move(folder)),
      header_("brivane-signature-verdicts 1 " + anchorsDigest(anchorsPem) + "\n") {}

std::vector<KeptVerdict> KeptVerdicts::read() const {
    if (!isPrivateDirectory(folder_, ::geteuid())) {
        return {};
    }
    const FileDescriptor file(
        ::open(path_.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY));
    struct stat status {};
    if (!file.valid() || ::fstat(file.get(), &status) != 0 || !S_ISREG(status.st_mode) ||
        status.st_uid != ::geteuid() || (status.st_mode & 077) != 0 ||
        status.st_size > maximumFileBytes) {
        return {};
    }
    std::string text;
    std::array<char, 4096> chunk{};
    for (;;) {
        const auto count = ::read(file.get(), chunk.data(), chunk.size());
        if (count < 0 && errno == EINTR) {
            continue;
        }
        if (count < 0 || text.size() > static_cast<std::size_t>(maximumFileBytes)) {
            return {};
        }
        if (count == 0) {
            break;
        }
        text.append(chunk.data(), static_cast<std::size_t>(count));
    }
    if (!text.starts_with(header_) || !text.ends_with('\n')) {
        return {};
    }
    std::vector<KeptVerdict> verdicts;
    auto lines = split(std::string_view(text).substr(header_.size()), '\n');
    lines.pop_back(); // after the last line feed
    for (const auto line : lines) {
        auto verdict = verdictOf(line);
        if (!verdict || verdicts.size() == capacity) {
            return {};
        }
        verdicts.push_back(std::move(*verdict));
    }
    return verdicts;
}

std::optional<KeptVerdict> KeptVerdicts::find(const FileIdentity& executable,
                                              const FileIdentity& signature,
                                              std::int64_t now) const {
    for (auto& verdict : read()) {
        if (verdict.executable == executable && verdict.signatureFile == signature &&
            now < verdict.expiresAt) {
            return std::move(verdict);
        }
    }
    return std::nullopt;
}

void KeptVerdicts::keep(const KeptVerdict& verdict, std::int64_t now) const {
    if (verdict.expiresAt <= now || verdict.signature.identifier.value_or("").empty() ||
        !isPrivateDirectory(folder_, ::geteuid())) {
        return;
    }
    auto verdicts = read();
    std::erase_if(verdicts, [&](const KeptVerdict& old) {
        return old.expiresAt <= now ||
               (old.executable == verdict.executable && old.signatureFile == verdict.signatureFile);
    });
    verdicts.insert(verdicts.begin(), verdict);
    verdicts.resize(std::min(verdicts.size(), capacity));
    std::string text = header_;
    for (const auto& kept : verdicts) {
        text += lineOf(kept);
    }
    // Best effort: a verdict not kept is reached again by the next process.
    (void)replaceFile(path_, text, 0600, FolderLink::refused);
}

} // namespace brivane::platform::posix
