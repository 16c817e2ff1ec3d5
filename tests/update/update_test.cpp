#include "base/sha256_hex.h"
#include "support/child_process.h"
#include "support/recording_tool_runner.h"
#include "support/temp_dir.h"
#include "update/companion_release.h"
#include "update/companion_updater.h"

#include <filesystem>
#include <fstream>
#include <future>
#include <gtest/gtest.h>
#include <map>
#include <nlohmann/json.hpp>
#include <thread>

namespace brivane {
namespace {

using Components = CompanionRelease::Components;
using Invalid = CompanionRelease::Invalid;

const std::string payload = "signed installer package bytes";

// An offer of version 2.0 of payload for systems from 14.0, with key set to value.
nlohmann::json offer(const std::string& key = "version", const nlohmann::json& value = "2.0") {
    const auto* bytes = reinterpret_cast<const unsigned char*>(payload.data());
    nlohmann::json manifest = {{"schemaVersion", 1},
                               {"version", "2.0"},
                               {"protocolVersion", 2},
                               {"minimumOSVersion", "14.0"},
                               {"architecture", "arm64"},
                               {"url", CompanionRelease::packageURL()},
                               {"sha256", base::sha256Hex({bytes, payload.size()})},
                               {"size", payload.size()}};
    manifest[key] = value;
    return manifest;
}

CompanionRelease releaseWith(const std::string& key, const nlohmann::json& value) {
    return CompanionRelease::decode(offer(key, value).dump());
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
    EXPECT_EQ(nlohmann::json::parse(releaseWith("notes", "ignored").encode()), offer());
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
    const auto complete = offer();
    for (const auto& [key, value] : complete.items()) {
        auto partial = offer();
        partial.erase(key);
        EXPECT_THROW(CompanionRelease::decode(partial.dump()), CompanionRelease::DecodingError)
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
    const struct Case {
        std::string running;
        std::string released;
        bool newer;
    } cases[] = {
        {"1.4", "1.4.0", false}, {"1.4", "1.4.1", true},  {"1.10", "1.9", false},
        {"2.0", "10.0", true},   {"1.5", "1.4.9", false}, {"0.0", "0.0", false},
        {"0.0", "0.0.1", true},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(releaseWith("version", c.released).isNewer(c.running, sonoma), c.newer)
            << c.running << " vs " << c.released;
    }
    const auto release = releaseWith("minimumOSVersion", "14.2");
    EXPECT_THROW(release.isNewer("2.0b1", sonoma), Invalid);
    EXPECT_THROW(release.isNewer("1.0", {14, 1, 9}), Invalid);
    EXPECT_THROW(release.isNewer("1.0", {13, 9, 0}), Invalid);
    EXPECT_TRUE(release.isNewer("1.0", {14, 2, 0}));
    EXPECT_TRUE(release.isNewer("1.0", {15, 0, 0}));
    EXPECT_FALSE(release.isNewer("2.0", {14, 2, 0}));
}

TEST(CompanionReleaseVerifyDownload, ReportsAnUnreadableFileAndDigestsLikeSha256) {
    const testing::TempDir temp("brivane-verify");
    EXPECT_THROW(releaseWith("version", "2.0").verifyDownload(temp / "missing.pkg"),
                 std::system_error);
    // The digest it compares with the manifest's.
    const std::string abc = "abc";
    EXPECT_EQ(base::sha256Hex({reinterpret_cast<const unsigned char*>(abc.data()), abc.size()}),
              "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
}

using namespace std::chrono_literals;
using Command = SensorCompanionCommand;
using State = SensorCompanionUpdate::State;

const std::string team = "QRV1234567";
const std::string manifestText = "The companion update information is invalid or incompatible.";
const std::string checksumText = "The companion download did not match its published checksum.";
const std::string signatureText =
    "The companion installer is not signed by Brivane\u2019s developer.";

SensorCompanionUpdate failed(const std::string& message,
                             std::optional<std::string> version = std::nullopt) {
    return {State::failed, std::move(version), message};
}

std::string certificateLines(const std::string& team) {
    return "   Certificate Chain:\n    1. Developer ID Installer: Brivane Sensors (" + team +
           ")\n    2. Brivane Development Root\n";
}

class FakeWorkspace final : public platform::Workspace {
public:
    std::optional<std::string> caches;
    bool opens = true;
    std::vector<std::string> opened;

    std::optional<std::string> userCachesDirectory() const override { return caches; }
    void open(const std::string& file, std::function<void(bool)> done) override {
        opened.push_back(file);
        done(opens);
    }
};

class FixedOSVersion final : public platform::OperatingSystemVersionSource {
public:
    platform::OperatingSystemVersion version() const override { return {14, 5, 0}; }
};

// An updater of version 1.0 on fakes that, unless a test changes them, install 2.0.
struct Rig {
    // Completes on the delegate queue like a real transfer; a held fetch waits for the test.
    struct Transfer final : platform::Transfer {
        Transfer(std::shared_ptr<base::SerialQueue> queue, Rig& rig)
            : queue(std::move(queue)), rig(rig) {}

        void fetch(const std::string&, std::size_t bodyLimit,
                   std::function<void(platform::DataTransferResult)> completion) override {
            ++rig.fetches;
            rig.bodyLimit = bodyLimit;
            if (rig.holdFetch) {
                rig.held = std::move(completion);
                return;
            }
            queue->async([completion, answer = rig.manifest] { completion(answer); });
        }
        void download(const std::string&, std::int64_t maximumBytes,
                      std::function<void(platform::DownloadTransferResult)> completion) override {
            ++rig.downloads;
            rig.maximumBytes = maximumBytes;
            queue->async([&rig = rig, completion] {
                auto answer = rig.package;
                const auto file = rig.temp / "download"; // exists until the completion returns
                if (answer.file) {
                    std::ofstream(file, std::ios::binary) << rig.packageContent;
                    answer.file = file;
                }
                completion(answer);
                std::filesystem::remove(file);
            });
        }

        std::shared_ptr<base::SerialQueue> queue;
        Rig& rig;
    };

    Rig() {
        tools->results["/usr/sbin/pkgutil"] = {{}, 0, certificateLines(team)};
        tools->results["/usr/sbin/spctl"] = {{}, 0, "accepted\n"};
        workspace->caches = caches;
    }

    std::future<SensorCompanionUpdate> start(Command command) {
        if (!updater) {
            CompanionUpdater::Dependencies dependencies;
            dependencies.makeTransfer = [this](std::shared_ptr<base::SerialQueue> queue) {
                return std::make_unique<Transfer>(std::move(queue), *this);
            };
            dependencies.toolRunner = tools;
            dependencies.workspace = workspace;
            dependencies.osVersion = std::make_shared<FixedOSVersion>();
            dependencies.bundleInfo = std::make_shared<platform::StaticBundleInfo>(info);
            dependencies.fileMapper = platform::makeDefaultFileMapper();
            dependencies.mainQueue = &main;
            updater = std::make_unique<CompanionUpdater>(std::move(dependencies));
        }
        auto promise = std::make_shared<std::promise<SensorCompanionUpdate>>();
        auto reply = promise->get_future();
        updater->perform(command, [promise](SensorCompanionUpdate update) {
            promise->set_value(std::move(update));
        });
        return reply;
    }

    // Runs the main queue (where the installer is opened) until the reply comes.
    SensorCompanionUpdate await(std::future<SensorCompanionUpdate> reply) {
        for (int i = 0; i < 6000 && reply.wait_for(5ms) != std::future_status::ready; ++i)
            main.drain();
        if (reply.wait_for(0s) != std::future_status::ready) {
            ADD_FAILURE() << "no reply";
            return {};
        }
        return reply.get();
    }

    SensorCompanionUpdate perform(Command command) { return await(start(command)); }

    const testing::TempDir temp{"brivane-updater"};
    const std::string caches = temp / "caches";
    // What the fake transfer answers and what it was asked.
    platform::DataTransferResult manifest{
        {}, platform::TransferResponse{200, CompanionRelease::manifestURL()}, offer().dump()};
    platform::DownloadTransferResult package{
        {}, platform::TransferResponse{200, CompanionRelease::packageURL()}, "replaced"};
    std::string packageContent = payload;
    bool holdFetch = false;
    std::function<void(platform::DataTransferResult)> held;
    int fetches = 0;
    int downloads = 0;
    std::size_t bodyLimit = 0;
    std::int64_t maximumBytes = 0;
    std::shared_ptr<testing::RecordingToolRunner> tools =
        std::make_shared<testing::RecordingToolRunner>();
    std::shared_ptr<FakeWorkspace> workspace = std::make_shared<FakeWorkspace>();
    std::map<std::string, std::string, std::less<>> info{{"CFBundleShortVersionString", "1.0"},
                                                         {"BrivaneTeamIdentifier", team}};
    base::MainQueue main;
    std::unique_ptr<CompanionUpdater> updater;
};

TEST(CompanionUpdater, RepliesFromTheManifestAloneWithoutDownloading) {
    struct Case {
        std::string name;
        platform::DataTransferResult answer;
        SensorCompanionUpdate expected;
        Command command = Command::installUpdate;
    };
    const platform::TransferResponse ok{200, CompanionRelease::manifestURL()};
    const auto served = [&](std::string body) {
        return platform::DataTransferResult{{}, ok, std::move(body)};
    };
    const std::string valid = offer().dump();
    const std::string padded = valid + std::string(16384 - valid.size(), ' ');
    const SensorCompanionUpdate available{State::available, "2.0", {}};
    const std::vector<Case> cases = {
        {"offer", served(valid), available, Command::checkForUpdates},
        {"exactly the limit", served(padded), available, Command::checkForUpdates},
        {"same version", served(offer("version", "1.0.0").dump()), {State::upToDate, "1.0", {}}},
        {"not found",
         {{}, platform::TransferResponse{404, ok.finalURL}, valid},
         failed(manifestText)},
        {"redirected",
         {{}, platform::TransferResponse{200, "https://brivane.qorva.dev/other.json"}, valid},
         failed(manifestText)},
        {"no response", {{}, {}, valid}, failed(manifestText)},
        {"no body", {{}, ok, {}}, failed(manifestText)},
        {"one byte too long", served(padded + " "), failed(manifestText)},
        {"not json", served("<html>"),
         failed("The data couldn\u2019t be read because it isn\u2019t valid JSON.")},
        {"missing key", served("{\"schemaVersion\":1}"),
         failed("No value associated with key \u201cversion\u201d.")},
        {"rejected by the release rules", served(offer("architecture", "x86_64").dump()),
         failed(manifestText)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Rig rig;
        rig.manifest = c.answer;
        EXPECT_EQ(rig.perform(c.command), c.expected);
        EXPECT_EQ(rig.bodyLimit, 16384u);
        EXPECT_EQ(rig.downloads, 0);
        EXPECT_TRUE(rig.tools->runs.empty());
    }

    Rig unversioned; // a bundle without a version runs 0.0
    unversioned.info.erase("CFBundleShortVersionString");
    unversioned.manifest = served(offer("version", "0.0").dump());
    EXPECT_EQ(unversioned.perform(Command::installUpdate),
              (SensorCompanionUpdate{State::upToDate, "0.0", {}}));
}

TEST(CompanionUpdater, InstallFailuresAreReportedWithTheirTexts) {
    struct Case {
        std::string name;
        std::function<void(Rig&)> arrange;
        SensorCompanionUpdate expected;
    };
    const auto pkgutil = [](platform::ToolResult result) {
        return [result](Rig& rig) { rig.tools->results["/usr/sbin/pkgutil"] = result; };
    };
    const std::vector<Case> cases = {
        {"download error", [](Rig& r) { r.package.error = "Operation was aborted"; },
         failed("Operation was aborted")},
        {"package not found", [](Rig& r) { r.package.response->statusCode = 404; },
         failed(manifestText)},
        {"package redirected",
         [](Rig& r) { r.package.response->finalURL = "https://mirror.example/p.pkg"; },
         failed(manifestText)},
        {"no file", [](Rig& r) { r.package.file.reset(); }, failed(manifestText)},
        {"digest mismatch", [](Rig& r) { r.packageContent.back() = 'Z'; }, failed(checksumText)},
        {"short file", [](Rig& r) { r.packageContent.pop_back(); }, failed(checksumText)},
        {"size differs, digest matches",
         [](Rig& r) { r.manifest.body = offer("size", payload.size() + 1).dump(); },
         failed(checksumText)},
        {"no team", [](Rig& r) { r.info.erase("BrivaneTeamIdentifier"); }, failed(signatureText)},
        {"pkgutil rejects", pkgutil({{}, 1, certificateLines(team)}), failed(signatureText)},
        {"pkgutil missing", pkgutil({"No such file or directory", -1, ""}),
         failed("No such file or directory")},
        {"other team", pkgutil({{}, 0, certificateLines("OTHER00000")}), failed(signatureText)},
        {"trailing blanks", pkgutil({{}, 0, "1. Developer ID Installer: B (" + team + ")  \n"}),
         failed(signatureText)},
        {"application certificate",
         pkgutil({{}, 0, "1. Developer ID Application: B (" + team + ")\n"}),
         failed(signatureText)},
        {"not utf-8", pkgutil({{}, 0, certificateLines(team) + "\xff\n"}), failed(signatureText)},
        {"spctl rejects", [](Rig& r) { r.tools->results["/usr/sbin/spctl"].terminationStatus = 3; },
         failed(signatureText)},
        {"no caches folder", [](Rig& r) { r.workspace->caches.reset(); },
         failed("The user\u2019s caches folder could not be found: No such file or directory")},
        {"installer refuses", [](Rig& r) { r.workspace->opens = false; },
         failed("Could not open Apple Installer.", "2.0")},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Rig rig;
        c.arrange(rig);
        EXPECT_EQ(rig.perform(Command::installUpdate), c.expected);
    }
}

TEST(CompanionUpdater, InstallOpensAVerifiedCopyInAFolderOfItsOwnOnTheMainQueue) {
    Rig rig;
    auto reply = rig.start(Command::installUpdate);
    testing::pollUntil(10s, [&] { return rig.tools->count() >= 2; });
    std::this_thread::sleep_for(50ms);
    EXPECT_NE(reply.wait_for(0s), std::future_status::ready);
    EXPECT_TRUE(rig.workspace->opened.empty());
    EXPECT_EQ(rig.await(std::move(reply)),
              (SensorCompanionUpdate{State::installerOpened, "2.0", {}}));
    EXPECT_EQ(rig.perform(Command::installUpdate).state, State::installerOpened);
    EXPECT_EQ(rig.maximumBytes, CompanionRelease::maximumSize);

    ASSERT_EQ(rig.workspace->opened.size(), 2u);
    EXPECT_NE(rig.workspace->opened[0], rig.workspace->opened[1]);
    const std::filesystem::path package = rig.workspace->opened[0]; // kept after the second
    EXPECT_EQ(package.filename(), "Brivane-Sensor-Companion.pkg");
    EXPECT_EQ(package.parent_path().parent_path(),
              std::filesystem::path(rig.caches) / "dev.qorva.brivane.SensorCompanion" / "Updates");
    const auto uuid = package.parent_path().filename().string(); // upper-case version 4
    EXPECT_TRUE(uuid.size() == 36 && uuid[14] == '4' &&
                uuid.find_first_not_of("0123456789ABCDEF-") == std::string::npos)
        << uuid;
    EXPECT_EQ(testing::readFile(package), payload);

    // Both checks run on the download, with the tool limit and a locale whose output we parse.
    ASSERT_EQ(rig.tools->runs.size(), 4u);
    const auto& file = rig.tools->runs[0].arguments.at(1);
    const auto expectCheck = [&](std::size_t i, std::string path, std::vector<std::string> args) {
        const platform::ToolRun run{
            std::move(path), std::move(args),
            platform::ToolEnvironment::inheritedWith({{"LC_ALL", "C"}, {"LANG", "C"}}), 15.0,
            platform::WatchdogQoS::standard};
        testing::expectRun(rig.tools->runs[i], run);
    };
    expectCheck(0, "/usr/sbin/pkgutil", {"--check-signature", file});
    expectCheck(1, "/usr/sbin/spctl", {"--assess", "--type", "install", file});
}

TEST(CompanionUpdater, ACommandWhileAnotherRunsIsAnsweredBusyAtOnce) {
    Rig rig;
    rig.holdFetch = true;
    auto first = rig.start(Command::installUpdate);
    auto second = rig.start(Command::installUpdate);
    ASSERT_EQ(second.wait_for(0s), std::future_status::ready);
    EXPECT_EQ(second.get(), (SensorCompanionUpdate{State::busy, {}, {}}));
    EXPECT_EQ(rig.fetches, 1);

    rig.held({"Could not resolve host", {}, {}});
    EXPECT_EQ(rig.await(std::move(first)), failed("Could not resolve host"));
    rig.holdFetch = false;
    EXPECT_EQ(rig.perform(Command::checkForUpdates).state, State::available);
    EXPECT_EQ(rig.fetches, 2);
}

} // namespace
} // namespace brivane
