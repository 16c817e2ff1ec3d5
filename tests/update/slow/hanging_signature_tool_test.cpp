#include "support/temp_dir.h"
#include "update/signature_fixtures.h"
#include "update/updater_fakes.h"

namespace brivane {
namespace {

using namespace brivane::testing;

TEST(HangingSignatureTool, IsEndedAfterFifteenSecondsAndTheInstallFails) {
    const TempDir temp("brivane-hanging-tool");
    const std::filesystem::path work = temp.path();
    const auto tool = work / "pkgutil";
    temp.write("pkgutil", "#!/bin/sh\nsleep 120\n", 0700);

    auto workspace = std::make_shared<FakeWorkspace>();
    workspace->caches = (work / "caches").string();
    platform::MainQueue main;
    ReplyLog log;
    {
        CompanionUpdater updater(fakeDependencies(
            offering(),
            std::make_shared<RedirectingToolRunner>(std::map<std::string, std::vector<std::string>>{
                {"/usr/sbin/pkgutil", {tool.string()}}}),
            workspace, {{"BrivaneTeamIdentifier", "QRV1234567"}}, main));
        const auto started = std::chrono::steady_clock::now();
        updater.perform(SensorCompanionCommand::installUpdate, log.recorder());
        const auto reply = log.waitFor(1, main, std::chrono::seconds(60));
        const auto elapsed = std::chrono::steady_clock::now() - started;
        ASSERT_TRUE(reply);
        EXPECT_EQ(reply->message, signatureRefusal);
        EXPECT_GE(elapsed, std::chrono::milliseconds(14900));
        EXPECT_LT(elapsed, std::chrono::seconds(20));
    }
    EXPECT_FALSE(std::filesystem::exists(work / "caches"));
}

} // namespace
} // namespace brivane
