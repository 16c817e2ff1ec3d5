#pragma once

#include "platform/file_mapper.h"
#include "platform/os_version.h"

#include <array>
#include <cstdint>
#include <exception>
#include <optional>
#include <string>
#include <string_view>

namespace brivane {

// The published release manifest: what may be offered to this machine and how its package
// is checked. Decoding requires all eight keys; the offer rules live in isNewer().
struct CompanionRelease {
    // The errors whose texts reach the user. Thrown by isNewer() and verifyDownload().
    class Invalid : public std::exception {
    public:
        enum Reason { manifest, checksum, signature };

        explicit Invalid(Reason reason) : reason(reason) {}
        const char* what() const noexcept override;
        bool operator==(const Invalid& other) const { return reason == other.reason; }

        Reason reason;
    };

    // The manifest could not be decoded (bad JSON, missing key, wrong type, malformed URL).
    class DecodingError : public std::exception {
    public:
        explicit DecodingError(std::string description) : description_(std::move(description)) {}
        const char* what() const noexcept override { return description_.c_str(); }

    private:
        std::string description_;
    };

    std::int64_t schemaVersion = 0;
    std::string version;
    std::int64_t protocolVersion = 0;
    std::string minimumOSVersion;
    std::string architecture;
    std::string url;
    std::string sha256;
    std::int64_t size = 0;

    bool operator==(const CompanionRelease&) const = default;

    static const std::string& manifestURL();
    static const std::string& packageURL();
    static constexpr std::int64_t maximumSize = 67108864;

    using Components = std::array<std::int64_t, 3>;

    // "1.2" -> {1,2,0}; "1.2.3" -> {1,2,3}; anything else (signs, blanks, letters, more than
    // nine digits in a piece, other piece counts) -> absent.
    static std::optional<Components> components(std::string_view version);

    // Throws DecodingError; never anything else.
    static CompanionRelease decode(std::string_view json);
    std::string encode() const;

    // Whether this release should replace the running version on a system of osVersion.
    // Throws Invalid::manifest when the release is unusable here.
    bool isNewer(std::string_view than, const platform::OperatingSystemVersion& osVersion) const;
    bool isNewer(std::string_view than) const;

    // Size first, then the SHA-256 digest. Throws Invalid::checksum on a mismatch and
    // std::system_error when the file cannot be read.
    void verifyDownload(const std::string& file, const platform::FileMapper& mapper) const;
    void verifyDownload(const std::string& file) const;
};

} // namespace brivane
