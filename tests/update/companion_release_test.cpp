#include "base/sha256_hex.h"
#include "support/temp_dir.h"
#include "update/companion_release.h"

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

CompanionRelease releaseWith(const std::string& key, const nlohmann::json& value) {
    auto manifest = validManifest();
    manifest[key] = value;
    return CompanionRelease::decode(manifest.dump());
}

using Values = std::vector<nlohmann::json>;
constexpr platform::OperatingSystemVersion sonoma{14, 5, 0};

TEST(CompanionReleaseComponents, AcceptsTwoOrThreeDigitPieces) {
    EXPECT_EQ(CompanionRelease::components("1.2"), (Components{1, 2, 0}));
    EXPECT_EQ(CompanionRelease::components("01.002.3"), (Components{1, 2, 3}));
    EXPECT_EQ(CompanionRelease::components("999999999.0.999999999"),
              (Components{999999999, 0, 999999999}));
    // The last one ends in an Arabic-Indic digit three.
    for (const std::string text : {"1", "1.2.3.4", "1.2.", "1..2", ".1.2", "1.2-beta", "v1.2", "",
                                   "1.+2", "1. 2", "1.-2", "1000000000.0", "2.0b1", "1.\xD9\xA3"}) {
        EXPECT_EQ(CompanionRelease::components(text), std::nullopt) << text;
    }
}

TEST(CompanionReleaseDecoding, ReadsTheEightKeysIgnoresOthersAndRejectsMissingOrMistypedOnes) {
    EXPECT_EQ(nlohmann::json::parse(releaseWith("notes", "ignored").encode()), validManifest());
    const std::vector<std::pair<std::string, Values>> mistyped = {
        {"schemaVersion", {"1", 1.5}},
        {"version", {1.4}},
        {"protocolVersion", {true}},
        {"minimumOSVersion", {14}},
        {"architecture", {nullptr}},
        {"url", {5, "https://host/a b", "", "https://x/%zz"}},
        {"sha256", {nlohmann::json::array()}},
        {"size", {"1024", 18446744073709551615ULL}},
    };
    for (const auto& [key, values] : mistyped) {
        for (const auto& value : values) {
            EXPECT_THROW(releaseWith(key, value), CompanionRelease::DecodingError)
                << key << " = " << value.dump();
        }
    }
    const auto complete = validManifest();
    for (const auto& [key, value] : complete.items()) {
        auto manifest = validManifest();
        manifest.erase(key);
        EXPECT_THROW(CompanionRelease::decode(manifest.dump()), CompanionRelease::DecodingError)
            << key;
    }
    for (const std::string text : {"", "[]", "null", "{", "\"text\"", "{\"size\":1}"})
        EXPECT_THROW(CompanionRelease::decode(text), CompanionRelease::DecodingError) << text;
}

TEST(CompanionReleaseRules, RejectsReleasesUnusableHere) {
    const std::string package = "/downloads/Brivane-Sensor-Companion.pkg";
    const std::vector<std::pair<std::string, Values>> rejected = {
        {"schemaVersion", {2}},
        {"protocolVersion", {1}},
        {"architecture", {"x86_64", "ARM64"}},
        {"url",
         {"https://brivane.qorva.dev/downloads/Other.pkg", "https://elsewhere.example" + package,
          "http://brivane.qorva.dev" + package}},
        {"size", {0, -1, 67108865}},
        {"sha256",
         {std::string(64, 'A'), std::string(63, 'a'), std::string(64, 'a') + "\n",
          std::string(64, 'g')}},
        {"version", {"1.4-beta"}},
        {"minimumOSVersion", {"14"}},
    };
    for (const auto& [key, values] : rejected) {
        for (const auto& value : values) {
            try {
                releaseWith(key, value).isNewer("1.0", sonoma);
                ADD_FAILURE() << key << " = " << value.dump() << " was accepted";
            } catch (const Invalid& error) {
                EXPECT_EQ(error, Invalid(Invalid::manifest)) << key;
            }
        }
    }
    EXPECT_TRUE(releaseWith("size", 67108864).isNewer("1.0", sonoma));
}

TEST(CompanionReleaseRules, ComparesVersionsNumericallyAndRequiresTheMinimumSystem) {
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
        EXPECT_EQ(releaseWith("version", c.released).isNewer(c.running, sonoma), c.newer)
            << c.running << " vs " << c.released;
    }
    const auto release = CompanionRelease::decode(validManifest().dump()); // minimum 14.2
    EXPECT_THROW(release.isNewer("2.0b1", sonoma), Invalid);
    EXPECT_THROW(release.isNewer("1.0", {14, 1, 9}), Invalid);
    EXPECT_THROW(release.isNewer("1.0", {13, 9, 0}), Invalid);
    EXPECT_TRUE(release.isNewer("1.0", {14, 2, 0}));
    EXPECT_TRUE(release.isNewer("1.0", {15, 0, 0}));
    EXPECT_FALSE(release.isNewer("1.4.2", {14, 2, 0}));
}

TEST(CompanionReleaseVerifyDownload, ReportsAnUnreadableFileAndDigestsLikeSha256) {
    const testing::TempDir temp("brivane-verify");
    const auto release = CompanionRelease::decode(validManifest().dump());
    EXPECT_THROW(release.verifyDownload(temp / "missing.pkg"), std::system_error);
    // The digest it compares with the manifest's.
    const std::string abc = "abc";
    EXPECT_EQ(platform::sha256Hex({reinterpret_cast<const unsigned char*>(abc.data()), abc.size()}),
              "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
}

} // namespace
} // namespace brivane
