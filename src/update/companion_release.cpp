#include "update/companion_release.h"

#include "base/sha256_hex.h"
#include "formats/sensor_snapshot.h"
#include "update/url_syntax.h"

#include <algorithm>
#include <limits>
#include <nlohmann/json.hpp>
#include <system_error>

namespace brivane {
namespace {

constexpr std::string_view downloadServer = "https://brivane.qorva.dev";

const std::string& checkedURL(const std::string& text) {
    if (!isWellFormedURL(text)) {
        std::terminate(); // a constant that is no URL is a programming error
    }
    return text;
}

std::string missingKey(std::string_view key) {
    return "No value associated with key \u201c" + std::string(key) + "\u201d.";
}

std::string wrongType(std::string_view key, std::string_view expected) {
    return "Expected to decode " + std::string(expected) + " for key \u201c" + std::string(key) +
           "\u201d but found something else.";
}

const nlohmann::json& member(const nlohmann::json& object, std::string_view key) {
    const auto found = object.find(key);
    if (found == object.end() || found->is_null()) {
        throw CompanionRelease::DecodingError(missingKey(key));
    }
    return *found;
}

std::int64_t integerMember(const nlohmann::json& object, std::string_view key) {
    const auto& value = member(object, key);
    if (value.is_number_unsigned() &&
        value.get<std::uint64_t>() <=
            static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())) {
        return static_cast<std::int64_t>(value.get<std::uint64_t>());
    }
    if (value.is_number_integer() && !value.is_number_unsigned()) {
        return value.get<std::int64_t>();
    }
    throw CompanionRelease::DecodingError(wrongType(key, "Int"));
}

std::string stringMember(const nlohmann::json& object, std::string_view key) {
    const auto& value = member(object, key);
    if (!value.is_string()) {
        throw CompanionRelease::DecodingError(wrongType(key, "String"));
    }
    return value.get<std::string>();
}

bool isLowerHexDigest(std::string_view text) {
    return text.size() == 64 && std::all_of(text.begin(), text.end(), [](char c) {
               return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f');
           });
}

} // namespace

const char* CompanionRelease::Invalid::what() const noexcept {
    switch (reason) {
    case manifest:
        return "The companion update information is invalid or incompatible.";
    case checksum:
        return "The companion download did not match its published checksum.";
    case signature:
        return "The companion installer is not signed by Brivane\u2019s developer.";
    }
    return "";
}

const std::string& CompanionRelease::manifestURL() {
    static const std::string url =
        checkedURL(std::string(downloadServer) + "/downloads/sensor-companion.json");
    return url;
}

const std::string& CompanionRelease::packageURL() {
    static const std::string url =
        checkedURL(std::string(downloadServer) + "/downloads/Brivane-Sensor-Companion.pkg");
    return url;
}

std::optional<CompanionRelease::Components> CompanionRelease::components(std::string_view version) {
    Components result{0, 0, 0};
    std::size_t count = 0;
    std::size_t start = 0;
    while (true) {
        const std::size_t end = std::min(version.find('.', start), version.size());
        const std::string_view piece = version.substr(start, end - start);
        if (count == 3 || piece.empty() || piece.size() > 9) {
            return std::nullopt;
        }
        std::int64_t number = 0;
        for (const char c : piece) {
            if (c < '0' || c > '9') {
                return std::nullopt;
            }
            number = number * 10 + (c - '0');
        }
        result[count++] = number;
        if (end == version.size()) {
            break;
        }
        start = end + 1;
    }
    if (count < 2) {
        return std::nullopt;
    }
    return result;
}

CompanionRelease CompanionRelease::decode(std::string_view json) {
    const auto document = nlohmann::json::parse(json, nullptr, false);
    if (document.is_discarded()) {
        throw DecodingError("The data couldn\u2019t be read because it isn\u2019t valid JSON.");
    }
    if (!document.is_object()) {
        throw DecodingError("Expected to decode a dictionary but found something else.");
    }
    CompanionRelease release;
    release.schemaVersion = integerMember(document, "schemaVersion");
    release.version = stringMember(document, "version");
    release.protocolVersion = integerMember(document, "protocolVersion");
    release.minimumOSVersion = stringMember(document, "minimumOSVersion");
    release.architecture = stringMember(document, "architecture");
    release.url = stringMember(document, "url");
    if (!isWellFormedURL(release.url)) {
        throw DecodingError("Invalid URL string for key \u201curl\u201d.");
    }
    release.sha256 = stringMember(document, "sha256");
    release.size = integerMember(document, "size");
    return release;
}

std::string CompanionRelease::encode() const {
    nlohmann::ordered_json document;
    document["schemaVersion"] = schemaVersion;
    document["version"] = version;
    document["protocolVersion"] = protocolVersion;
    document["minimumOSVersion"] = minimumOSVersion;
    document["architecture"] = architecture;
    document["url"] = url;
    document["sha256"] = sha256;
    document["size"] = size;
    return document.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

bool CompanionRelease::isNewer(std::string_view than,
                               const platform::OperatingSystemVersion& osVersion) const {
    if (schemaVersion != 1 || protocolVersion != SensorSnapshot::schemaVersion ||
        architecture != "arm64" || url != packageURL() || size < 1 || size > maximumSize ||
        !isLowerHexDigest(sha256)) {
        throw Invalid(Invalid::manifest);
    }
    const auto released = components(version);
    const auto running = components(than);
    const auto minimum = components(minimumOSVersion);
    if (!released || !running || !minimum) {
        throw Invalid(Invalid::manifest);
    }
    const Components system{osVersion.major, osVersion.minor, osVersion.patch};
    if (system < *minimum) {
        throw Invalid(Invalid::manifest);
    }
    return *running < *released;
}

bool CompanionRelease::isNewer(std::string_view than) const {
    return isNewer(than, platform::makeDefaultOperatingSystemVersionSource()->version());
}

void CompanionRelease::verifyDownload(const std::string& file,
                                      const platform::FileMapper& mapper) const {
    std::error_code error;
    const auto mapped = mapper.map(file, error);
    if (!mapped) {
        throw std::system_error(error ? error : std::make_error_code(std::errc::io_error));
    }
    const auto bytes = mapped->bytes();
    if (static_cast<std::uint64_t>(size) != bytes.size() || size < 0) {
        throw Invalid(Invalid::checksum);
    }
    if (base::sha256Hex(bytes) != sha256) {
        throw Invalid(Invalid::checksum);
    }
}

void CompanionRelease::verifyDownload(const std::string& file) const {
    verifyDownload(file, *platform::makeDefaultFileMapper());
}

} // namespace brivane
