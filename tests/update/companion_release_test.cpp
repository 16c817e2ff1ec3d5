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

TEST(CompanionReleaseConstants, UrlsLiveOnTheDownloadServerOverHttps) {
    EXPECT_EQ(CompanionRelease::manifestURL(),
              "https://brivane.qorva.dev/downloads/sensor-companion.json");
    EXPECT_EQ(CompanionRelease::packageURL(),
              "https://brivane.qorva.dev/downloads/Brivane-Sensor-Companion.pkg");
    EXPECT_EQ(CompanionRelease::maximumSize, 67108864);
}

TEST(CompanionReleaseInvalid, TextsAreExact) {
    EXPECT_STREQ(Invalid(Invalid::manifest).what(),
                 "The companion update information is invalid or incompatible.");
    EXPECT_STREQ(Invalid(Invalid::checksum).what(),
                 "The companion download did not match its published checksum.");
    EXPECT_STREQ(Invalid(Invalid::signature).what(),
                 "The companion installer is not signed by Brivane\xE2\x80\x99s developer.");
    EXPECT_EQ(Invalid(Invalid::checksum), Invalid(Invalid::checksum));
    EXPECT_FALSE(Invalid(Invalid::checksum) == Invalid(Invalid::signature));
}

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

TEST(CompanionReleaseDecoding, RoundTripsTheEightKeys) {
    const auto release = CompanionRelease::decode(validManifest().dump());
    EXPECT_EQ(release.version, "1.4.2");
    EXPECT_EQ(release.size, 1024);
    const auto encoded = nlohmann::json::parse(release.encode());
    EXPECT_EQ(encoded, validManifest());
    EXPECT_EQ(CompanionRelease::decode(release.encode()), release);
}

TEST(CompanionReleaseDecoding, IgnoresUnknownKeys) {
    auto manifest = validManifest();
    manifest["notes"] = "ignored";
    EXPECT_NO_THROW(CompanionRelease::decode(manifest.dump()));
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

class VerifyDownloadTest : public ::testing::Test {
protected:
    void SetUp() override {
        directory_ =
            std::filesystem::temp_directory_path() /
            ("brivane-verify-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) +
             "-" + ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::create_directories(directory_);
    }
    void TearDown() override { std::filesystem::remove_all(directory_); }

    std::string write(const std::string& content) {
        const auto path = directory_ / "package.pkg";
        std::ofstream(path, std::ios::binary) << content;
        return path.string();
    }

    static CompanionRelease releaseFor(const std::string& content, std::int64_t size) {
        auto manifest = validManifest();
        manifest["size"] = size;
        manifest["sha256"] =
            sha256Hex({reinterpret_cast<const unsigned char*>(content.data()), content.size()});
        return CompanionRelease::decode(manifest.dump());
    }

    std::filesystem::path directory_;
};

TEST_F(VerifyDownloadTest, AcceptsMatchingSizeAndDigest) {
    const std::string content = "installer payload";
    EXPECT_NO_THROW(releaseFor(content, content.size()).verifyDownload(write(content)));
}

TEST_F(VerifyDownloadTest, ChecksSizeBeforeDigest) {
    // The digest matches the file, only the size is one byte off.
    const std::string content = "installer payload";
    EXPECT_THROW(releaseFor(content, content.size() + 1).verifyDownload(write(content)), Invalid);
}

TEST_F(VerifyDownloadTest, RejectsAChangedByte) {
    const std::string content = "installer payload";
    const auto release = releaseFor(content, content.size());
    try {
        release.verifyDownload(write("installer paylOad"));
        ADD_FAILURE();
    } catch (const Invalid& error) {
        EXPECT_EQ(error, Invalid(Invalid::checksum));
    }
}

TEST_F(VerifyDownloadTest, ReportsAnUnreadableFileAsItsOwnError) {
    const auto release = releaseFor("x", 1);
    EXPECT_THROW(release.verifyDownload((directory_ / "missing.pkg").string()), std::system_error);
}

TEST(Sha256Hex, MatchesKnownDigest) {
    const std::string abc = "abc";
    EXPECT_EQ(sha256Hex({reinterpret_cast<const unsigned char*>(abc.data()), abc.size()}),
              "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
}

} // namespace
} // namespace brivane
