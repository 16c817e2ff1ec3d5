#include "update/signature_fixtures.h"
#include "update/standin_runner.h"

namespace brivane {
namespace {

using namespace brivane::testing;

TEST(HangingSignatureTool, IsEndedAfterFifteenSecondsAndTheInstallFails) {
    const auto work = freshDirectory("brivane-hanging-tool");
    const auto tool = work / "pkgutil";
    std::ofstream(tool) << "#!/bin/sh\nsleep 120\n";
    std::filesystem::permissions(tool, std::filesystem::perms::owner_all);

    auto script = std::make_shared<TransferScript>();
    script->manifestAnswer = manifestAnswer(manifestFor("2.0").dump());
    script->packageAnswer = packageAnswer();
    script->packageContent = packagePayload;
    auto workspace = std::make_shared<FakeWorkspace>();
    workspace->caches = (work / "caches").string();
    platform::MainQueue main;

    CompanionUpdater::Dependencies dependencies;
    dependencies.makeTransfer = [script](std::shared_ptr<platform::SerialQueue> queue) {
        return std::make_unique<FakeTransfer>(std::move(queue), script);
    };
    dependencies.toolRunner = std::make_shared<RedirectingToolRunner>(
        std::map<std::string, std::vector<std::string>>{{"/usr/sbin/pkgutil", {tool.string()}}});
    dependencies.workspace = workspace;
    dependencies.osVersion = std::make_shared<FixedOSVersion>();
    dependencies.bundleInfo = std::make_shared<platform::StaticBundleInfo>(
        std::map<std::string, std::string, std::less<>>{{"BrivaneTeamIdentifier", "QRV1234567"}});
    dependencies.fileMapper = platform::makeDefaultFileMapper();
    dependencies.mainQueue = &main;
    ReplyLog log;
    {
        CompanionUpdater updater(dependencies);
        const auto started = std::chrono::steady_clock::now();
        updater.perform(SensorCompanionCommand::installUpdate, log.recorder());
        const auto reply = log.waitFor(1, main, std::chrono::seconds(60));
        const auto elapsed = std::chrono::steady_clock::now() - started;
        ASSERT_TRUE(reply);
        EXPECT_EQ(reply->message,
                  "The companion installer is not signed by Brivane\xE2\x80\x99s developer.");
        EXPECT_GE(elapsed, std::chrono::milliseconds(14900));
        EXPECT_LT(elapsed, std::chrono::seconds(20));
    }
    EXPECT_FALSE(std::filesystem::exists(work / "caches"));
    std::filesystem::remove_all(work);
}

} // namespace
} // namespace brivane
