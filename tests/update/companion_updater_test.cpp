#include "support/temp_dir.h"
#include "update/updater_fakes.h"

#include <gtest/gtest.h>

namespace brivane {
namespace {

using namespace brivane::testing;
using State = SensorCompanionUpdate::State;

const std::string team = "QRV1234567";
const std::string& manifestText = manifestRefusal;
const std::string& signatureText = signatureRefusal;
const std::string checksumText = "The companion download did not match its published checksum.";

std::string manifestWith(const std::string& key, const std::string& value) {
    auto manifest = manifestFor("2.0");
    manifest[key] = value;
    return manifest.dump();
}

class CompanionUpdaterTest : public ::testing::Test {
public:
    void SetUp() override {
        workspace_->caches = caches_.string();
        const auto offer = offering();
        script_->manifestAnswer = offer->manifestAnswer;
        script_->packageAnswer = offer->packageAnswer;
        script_->packageContent = offer->packageContent;
        tools_->results["/usr/sbin/pkgutil"] = toolOutput(certificateLines(team));
        tools_->results["/usr/sbin/spctl"] = toolOutput("accepted\n");
        info_ = {{"CFBundleShortVersionString", "1.0"}, {"BrivaneTeamIdentifier", team}};
    }

    void TearDown() override {
        updater_.reset();
        std::filesystem::remove_all(caches_); // cases that set up again start afresh
    }

    CompanionUpdater& updater() {
        if (!updater_) {
            auto dependencies = fakeDependencies(script_, tools_, workspace_, info_, main_);
            dependencies.makeTransfer = [this](std::shared_ptr<platform::SerialQueue> queue) {
                auto transfer = std::make_unique<FakeTransfer>(std::move(queue), script_);
                transfer_ = transfer.get();
                return transfer;
            };
            updater_ = std::make_unique<CompanionUpdater>(std::move(dependencies));
        }
        return *updater_;
    }

    SensorCompanionUpdate perform(SensorCompanionCommand command) {
        const auto before = log_.count();
        updater().perform(command, log_.recorder());
        auto reply = log_.waitFor(before + 1, main_);
        EXPECT_TRUE(reply.has_value()) << "no reply";
        return reply.value_or(SensorCompanionUpdate{});
    }

    static SensorCompanionUpdate failed(const std::string& message,
                                        std::optional<std::string> version = std::nullopt) {
        return {State::failed, std::move(version), message};
    }

    const TempDir temp_{"brivane-updater"};
    const std::filesystem::path caches_{temp_ / "caches"};
    std::shared_ptr<TransferScript> script_ = std::make_shared<TransferScript>();
    std::shared_ptr<FakeToolRunner> tools_ = std::make_shared<FakeToolRunner>();
    std::shared_ptr<FakeWorkspace> workspace_ = std::make_shared<FakeWorkspace>();
    BundleStrings info_;
    platform::MainQueue main_;
    ReplyLog log_;
    FakeTransfer* transfer_ = nullptr;
    std::unique_ptr<CompanionUpdater> updater_;
};

TEST_F(CompanionUpdaterTest, SecondCommandIsBusyUntilTheFirstHasReplied) {
    script_->holdFetch = true;
    script_->manifestAnswer.response->statusCode = 404;
    updater().perform(SensorCompanionCommand::installUpdate, log_.recorder());
    std::optional<SensorCompanionUpdate> second;
    updater().perform(SensorCompanionCommand::installUpdate,
                      [&](SensorCompanionUpdate update) { second = update; });
    ASSERT_TRUE(second.has_value()) << "busy must be answered at once";
    EXPECT_EQ(*second, (SensorCompanionUpdate{State::busy, std::nullopt, std::nullopt}));
    EXPECT_EQ(script_->fetches, 1);

    transfer_->release();
    EXPECT_EQ(log_.waitFor(1, main_), failed(manifestText));

    script_->holdFetch = false;
    script_->manifestAnswer.response->statusCode = 200;
    EXPECT_EQ(perform(SensorCompanionCommand::checkForUpdates).state, State::available);
    EXPECT_EQ(script_->fetches, 2);
}

TEST_F(CompanionUpdaterTest, ManifestFailuresAreReportedWithTheirTexts) {
    const std::string padded = manifestFor("2.0").dump() + std::string(16384, ' ');
    struct Case {
        std::string name;
        platform::DataTransferResult answer;
        std::optional<std::string> message; // absent: any non-empty decoding description
    };
    const platform::TransferResponse ok{200, CompanionRelease::manifestURL()};
    const std::string valid = manifestFor("2.0").dump();
    const std::vector<Case> cases = {
        {"transport error",
         {"Could not resolve host", std::nullopt, std::nullopt},
         "Could not resolve host"},
        {"not found",
         {std::nullopt, platform::TransferResponse{404, CompanionRelease::manifestURL()}, valid},
         manifestText},
        {"redirected",
         {std::nullopt, platform::TransferResponse{200, "https://brivane.qorva.dev/other.json"},
          valid},
         manifestText},
        {"no response", {std::nullopt, std::nullopt, valid}, manifestText},
        {"no body", {std::nullopt, ok, std::nullopt}, manifestText},
        {"too long", {std::nullopt, ok, padded.substr(0, 16385)}, manifestText},
        {"not json", {std::nullopt, ok, std::string("<html>")}, std::nullopt},
        {"missing key", {std::nullopt, ok, std::string("{\"schemaVersion\":1}")}, std::nullopt},
        {"wrong architecture",
         {std::nullopt, ok, manifestWith("architecture", "x86_64")},
         manifestText},
        {"system too old",
         {std::nullopt, ok, manifestWith("minimumOSVersion", "15.0")},
         manifestText},
    };
    for (const auto& c : cases) {
        script_->manifestAnswer = c.answer;
        const auto reply = perform(SensorCompanionCommand::installUpdate);
        EXPECT_EQ(reply.state, State::failed) << c.name;
        EXPECT_FALSE(reply.version.has_value()) << c.name;
        if (c.message) {
            EXPECT_EQ(reply.message, c.message) << c.name;
        } else {
            EXPECT_TRUE(reply.message && !reply.message->empty() && *reply.message != manifestText)
                << c.name;
        }
    }
    EXPECT_EQ(script_->downloads, 0);
    EXPECT_EQ(script_->lastBodyLimit, 16384u);
}

TEST_F(CompanionUpdaterTest, VersionRepliesDownloadNothing) {
    const auto reply = [&](const std::string& manifest, SensorCompanionCommand command) {
        script_->manifestAnswer = manifestAnswer(manifest);
        updater_.reset(); // fresh bundle information
        return perform(command);
    };
    const std::string body = manifestFor("2.0").dump();
    const SensorCompanionUpdate available{State::available, "2.0", std::nullopt};
    EXPECT_EQ(reply(body, SensorCompanionCommand::checkForUpdates), available);
    const std::string exactlySixteenKibibytes = body + std::string(16384 - body.size(), ' ');
    EXPECT_EQ(reply(exactlySixteenKibibytes, SensorCompanionCommand::checkForUpdates), available);
    EXPECT_EQ(reply(manifestFor("1.0.0").dump(), SensorCompanionCommand::installUpdate),
              (SensorCompanionUpdate{State::upToDate, "1.0", std::nullopt}));
    info_.erase("CFBundleShortVersionString"); // a missing version counts as zero
    EXPECT_EQ(reply(manifestFor("0.0").dump(), SensorCompanionCommand::checkForUpdates),
              (SensorCompanionUpdate{State::upToDate, "0.0", std::nullopt}));
    EXPECT_EQ(script_->downloads, 0);
    EXPECT_TRUE(tools_->requests.empty());
}

TEST_F(CompanionUpdaterTest, InstallFailuresAreReportedWithTheirTexts) {
    struct Case {
        std::string name;
        std::function<void(CompanionUpdaterTest&)> arrange;
        SensorCompanionUpdate expected;
    };
    const auto pkgutil = [](platform::ToolResult result) {
        return
            [result](CompanionUpdaterTest& t) { t.tools_->results["/usr/sbin/pkgutil"] = result; };
    };
    const std::vector<Case> cases = {
        {"download error",
         [](auto& t) {
             t.script_->packageAnswer = {"Operation was aborted", std::nullopt, std::nullopt};
         },
         failed("Operation was aborted")},
        {"package not found", [](auto& t) { t.script_->packageAnswer.response->statusCode = 404; },
         failed(manifestText)},
        {"package redirected",
         [](auto& t) {
             t.script_->packageAnswer.response->finalURL = "https://mirror.example/p.pkg";
         },
         failed(manifestText)},
        {"no file", [](auto& t) { t.script_->packageAnswer.file.reset(); }, failed(manifestText)},
        {"digest mismatch",
         [](auto& t) { t.script_->packageContent = "signed installer package byteZ"; },
         failed(checksumText)},
        {"short file", [](auto& t) { t.script_->packageContent.pop_back(); }, failed(checksumText)},
        {"no team", [](auto& t) { t.info_.erase("BrivaneTeamIdentifier"); }, failed(signatureText)},
        {"pkgutil rejects", pkgutil(toolOutput(certificateLines(team), 1)), failed(signatureText)},
        {"pkgutil missing", pkgutil({"No such file or directory", -1, ""}),
         failed("No such file or directory")},
        {"other team", pkgutil(toolOutput(certificateLines("OTHER00000"))), failed(signatureText)},
        {"trailing blanks", pkgutil(toolOutput("1. Developer ID Installer: B (" + team + ")  \n")),
         failed(signatureText)},
        {"application certificate",
         pkgutil(toolOutput("1. Developer ID Application: B (" + team + ")\n")),
         failed(signatureText)},
        {"not utf-8", pkgutil(toolOutput(certificateLines(team) + "\xff\n")),
         failed(signatureText)},
        {"spctl rejects",
         [](auto& t) { t.tools_->results["/usr/sbin/spctl"] = toolOutput("rejected\n", 3); },
         failed(signatureText)},
        {"no caches folder", [](auto& t) { t.workspace_->caches.reset(); }, failed("")},
        {"installer refuses", [](auto& t) { t.workspace_->opens = false; },
         failed("Could not open Apple Installer.", "2.0")},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        SetUp();
        c.arrange(*this);
        updater_.reset(); // fresh bundle information for each case
        const auto reply = perform(SensorCompanionCommand::installUpdate);
        if (c.expected.message->empty()) {
            EXPECT_EQ(reply.state, State::failed) << c.name;
            EXPECT_TRUE(reply.message && !reply.message->empty()) << c.name;
        } else {
            EXPECT_EQ(reply, c.expected) << c.name;
        }
        TearDown();
    }
}

TEST_F(CompanionUpdaterTest, SuccessfulInstallKeepsThePackageInTheCachesFolder) {
    const auto reply = perform(SensorCompanionCommand::installUpdate);
    EXPECT_EQ(reply, (SensorCompanionUpdate{State::installerOpened, "2.0", std::nullopt}));

    ASSERT_EQ(workspace_->opened.size(), 1u);
    const std::filesystem::path package = workspace_->opened.front();
    EXPECT_EQ(package.filename(), "Brivane-Sensor-Companion.pkg");
    EXPECT_EQ(package.parent_path().parent_path(),
              caches_ / "dev.qorva.brivane.SensorCompanion" / "Updates");
    const auto uuid = package.parent_path().filename().string();
    // Upper-case version-4 UUID: hex groups 8-4-4-4-12, version digit 4, variant 8, 9, A or B.
    // (Checked by hand: std::regex trips GCC 12's maybe-uninitialized warning under ASan.)
    const auto isUpperHex = [](char c) { return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'); };
    bool wellFormed = uuid.size() == 36;
    for (std::size_t i = 0; wellFormed && i < uuid.size(); ++i) {
        wellFormed =
            (i == 8 || i == 13 || i == 18 || i == 23) ? uuid[i] == '-' : isUpperHex(uuid[i]);
    }
    EXPECT_TRUE(wellFormed && uuid[14] == '4' &&
                std::string_view("89AB").find(uuid[19]) != std::string_view::npos)
        << uuid;
    std::ifstream in(package, std::ios::binary);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), packagePayload);

    ASSERT_EQ(tools_->requests.size(), 2u);
    const auto& pkgutil = tools_->requests[0];
    EXPECT_EQ(pkgutil.path, "/usr/sbin/pkgutil");
    EXPECT_EQ(pkgutil.arguments.at(0), "--check-signature");
    EXPECT_EQ(tools_->requests[1].path, "/usr/sbin/spctl");
    EXPECT_EQ(tools_->requests[1].arguments,
              (std::vector<std::string>{"--assess", "--type", "install", pkgutil.arguments.at(1)}));
    for (const auto& run : tools_->requests) {
        EXPECT_EQ(run.timeLimit, 15.0);
        EXPECT_EQ(run.environment.policy, platform::ToolEnvironment::Policy::inheritAndSet);
        EXPECT_EQ(run.environment.variables, (std::vector<std::pair<std::string, std::string>>{
                                                 {"LC_ALL", "C"}, {"LANG", "C"}}));
    }

    // A second install gets a directory of its own; the first stays.
    perform(SensorCompanionCommand::installUpdate);
    ASSERT_EQ(workspace_->opened.size(), 2u);
    EXPECT_NE(workspace_->opened[0], workspace_->opened[1]);
    EXPECT_TRUE(std::filesystem::exists(workspace_->opened[0]));
}

TEST_F(CompanionUpdaterTest, OpeningWaitsForTheMainQueue) {
    updater().perform(SensorCompanionCommand::installUpdate, log_.recorder());
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (tools_->requestCount() < 2 && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(log_.count(), 0u);
    EXPECT_TRUE(workspace_->opened.empty());
    EXPECT_EQ(log_.waitFor(1, main_)->state, State::installerOpened);
}

TEST(CompanionUpdaterDownloadGuard, CancelsAboveTheMaximumSize) {
    const std::int64_t max = CompanionRelease::maximumSize;
    EXPECT_TRUE(CompanionUpdater::shouldContinueDownload(0, -1));
    EXPECT_TRUE(CompanionUpdater::shouldContinueDownload(max, max));
    EXPECT_FALSE(CompanionUpdater::shouldContinueDownload(max + 1, -1));
    EXPECT_FALSE(CompanionUpdater::shouldContinueDownload(10, max + 1));
}

} // namespace
} // namespace brivane
