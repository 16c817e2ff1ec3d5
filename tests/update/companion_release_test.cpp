#include "support/temp_dir.h"
#include "update/companion_release.h"
#include "update/sha256_hex.h"

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

namespace brivane {
namespace {

using Components = CompanionRelease::Components;
using Invalid = CompanionRelease::Invalid;

const std::string validDigest(64, 'a');

nlohmann::json validManifest() {
    return {{"schemaVersion", 1},      {"version", "1.4.2"},
            {"protocolVersion", 2},    {"minimumOSVersion", "14.2"},
            {"architecture", "arm64"}, {"url", CompanionRelease::packageURL()},
            {"sha256", validDigest},   {"size", 1024}};
}

constexpr platform::OperatingSystemVersion sonoma{14, 5, 0};

TEST(CompanionReleaseComponents, AcceptsTwoOrThreeDigitPieces) {
    const std::vector<std::pair<std::string, std::optional<Components>>> cases = {
        {"1.2", Components{1, 2, 0}},
        {"1.2.3", Components{1, 2, 3}},
        {"01.002", Components{1, 2, 0}},
        {"999999999.0.999999999", Components{999999999, 0, 999999999}},
        {"1", std::nullopt},
        {"1.2.3.4", std::nullopt},
        {"1.2.", std::nullopt},
        {"1..2", std::nullopt},
        {".1.2", std::nullopt},
        {"1.2-beta", std::nullopt},
        {"v1.2", std::nullopt},
        {"", std::nullopt},
        {"1.+2", std::nullopt},
        {"1. 2", std::nullopt},
        {"1.-2", std::nullopt},
        {"1000000000.0", std::nullopt},
        {"1.\xD9\xA3", std::nullopt}, // Arabic-Indic digit three
        {"2.0b1", std::nullopt},
    };
    for (const auto& [text, expected] : cases) {
        EXPECT_EQ(CompanionRelease::components(text), expected) << text;
    }
}

TEST(CompanionReleaseDecoding, RoundTripsTheEightKeysAndIgnoresOthers) {
    auto withNotes = validManifest();
    withNotes["notes"] = "ignored";
    const auto release = CompanionRelease::decode(withNotes.dump());
    EXPECT_EQ(release.version, "1.4.2");
    EXPECT_EQ(release.size, 1024);
    EXPECT_EQ(nlohmann::json::parse(release.encode()), validManifest());
    EXPECT_EQ(CompanionRelease::decode(release.encode()), release);
}

TEST(CompanionReleaseDecoding, RejectsMissingNullOrMistypedValues) {
    const std::vector<std::pair<std::string, nlohmann::json>> mistyped = {
        {"schemaVersion", "1"},
        {"schemaVersion", 1.5},
        {"version", 1.4},
        {"protocolVersion", true},
        {"minimumOSVersion", 14},
        {"architecture", nullptr},
        {"url", 5},
        {"url", "https://host/a b"},
        {"url", ""},
        {"url", "https://x/%zz"},
        {"sha256", nlohmann::json::array()},
        {"size", "1024"},
        {"size", 18446744073709551615ULL},
    };
    for (const auto& [key, value] : mistyped) {
        auto manifest = validManifest();
        manifest[key] = value;
        EXPECT_THROW(CompanionRelease::decode(manifest.dump()), CompanionRelease::DecodingError)
            << key << " = " << value.dump();
    }
    const auto complete = validManifest();
    for (const auto& [key, value] : complete.items()) {
        auto manifest = validManifest();
        manifest.erase(key);
        EXPECT_THROW(CompanionRelease::decode(manifest.dump()), CompanionRelease::DecodingError)
            << key;
    }
    for (const std::string text : {"", "[]", "null", "{", "\"text\"", "{\"size\":1}"}) {
        EXPECT_THROW(CompanionRelease::decode(text), CompanionRelease::DecodingError) << text;
    }
}

TEST(CompanionReleaseRules, RejectsReleasesUnusableHere) {
    const std::vector<std::pair<std::string, nlohmann::json>> rejected = {
        {"schemaVersion", 2},
        {"protocolVersion", 1},
        {"architecture", "x86_64"},
        {"architecture", "ARM64"},
        {"url", "https://brivane.qorva.dev/downloads/Other.pkg"},
        {"url", "https://elsewhere.example/downloads/Brivane-Sensor-Companion.pkg"},
        {"url", "http://brivane.qorva.dev/downloads/Brivane-Sensor-Companion.pkg"},
        {"size", 0},
        {"size", -1},
        {"size", 67108865},
        {"sha256", std::string(64, 'A')},
        {"sha256", std::string(63, 'a')},
        {"sha256", std::string(64, 'a') + "\n"},
        {"sha256", std::string(64, 'g')},
        {"version", "1.4-beta"},
        {"minimumOSVersion", "14"},
    };
    for (const auto& [key, value] : rejected) {
        auto manifest = validManifest();
        manifest[key] = value;
        const auto release = CompanionRelease::decode(manifest.dump());
        try {
            release.isNewer("1.0", sonoma);
            ADD_FAILURE() << key << " = " << value.dump() << " was accepted";
        } catch (const Invalid& error) {
            EXPECT_EQ(error, Invalid(Invalid::manifest)) << key;
        }
    }
    auto largest = validManifest();
    largest["size"] = 67108864;
    EXPECT_TRUE(CompanionRelease::decode(largest.dump()).isNewer("1.0", sonoma));
}

TEST(CompanionReleaseRules, ComparesVersionsNumerically) {
    struct Case {
        std::string running;
        std::string released;
        bool newer;
    };
    const std::vector<Case> cases = {
        {"1.4", "1.4.0", false}, {"1.4", "1.4.1", true},  {"1.10", "1.9", false},
        {"2.0", "10.0", true},   {"1.5", "1.4.9", false}, {"0.0", "0.0", false},
        {"0.0", "0.0.1", true},
    };
    for (const auto& c : cases) {
        auto manifest = validManifest();
        manifest["version"] = c.released;
        EXPECT_EQ(CompanionRelease::decode(manifest.dump()).isNewer(c.running, sonoma), c.newer)
            << c.running << " vs " << c.released;
    }
    const auto release = CompanionRelease::decode(validManifest().dump());
    EXPECT_THROW(release.isNewer("2.0b1", sonoma), Invalid);
}

TEST(CompanionReleaseRules, RequiresTheMinimumSystem) {
    const auto release = CompanionRelease::decode(validManifest().dump()); // minimum 14.2
    EXPECT_THROW(release.isNewer("1.0", {14, 1, 9}), Invalid);
    EXPECT_THROW(release.isNewer("1.0", {13, 9, 0}), Invalid);
    EXPECT_TRUE(release.isNewer("1.0", {14, 2, 0}));
    EXPECT_TRUE(release.isNewer("1.0", {15, 0, 0}));
    EXPECT_FALSE(release.isNewer("1.4.2", {14, 2, 0}));
}

// Size before digest: a file whose digest matches but whose size is one byte off is refused.
TEST(CompanionReleaseVerifyDownload, ChecksSizeThenDigestAndReportsUnreadableFiles) {
    const testing::TempDir temp("brivane-verify");
    const std::filesystem::path directory = temp.path();
    const auto file = (directory / "package.pkg").string();
    const std::string content = "installer payload";
    const auto n = static_cast<std::int64_t>(content.size());
    const auto releaseFor = [&](std::int64_t size) {
        auto manifest = validManifest();
        manifest["size"] = size;
        manifest["sha256"] =
            sha256Hex({reinterpret_cast<const unsigned char*>(content.data()), content.size()});
        return CompanionRelease::decode(manifest.dump());
    };
    const auto refusal = [&](std::int64_t size,
                             const std::string& written) -> std::optional<Invalid> {
        std::ofstream(file, std::ios::binary) << written;
        try {
            releaseFor(size).verifyDownload(file);
            return std::nullopt;
        } catch (const Invalid& error) {
            return error;
        }
    };
    EXPECT_EQ(refusal(n, content), std::nullopt);
    EXPECT_EQ(refusal(n + 1, content), Invalid(Invalid::checksum));
    EXPECT_EQ(refusal(n, "installer paylOad"), Invalid(Invalid::checksum));
    EXPECT_FALSE(Invalid(Invalid::checksum) == Invalid(Invalid::signature));
    std::filesystem::remove_all(directory);
    EXPECT_THROW(releaseFor(1).verifyDownload(file), std::system_error);
}

TEST(Sha256Hex, MatchesKnownDigest) {
    const std::string abc = "abc";
    EXPECT_EQ(sha256Hex({reinterpret_cast<const unsigned char*>(abc.data()), abc.size()}),
              "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
}

} // namespace
} // namespace brivane
