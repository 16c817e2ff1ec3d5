#include "update/signature_fixtures.h"
#include "update/standin_runner.h"

namespace brivane {
namespace {

using namespace brivane::testing;

// The whole install path with a package signed by the build's installer certificate and the
// stand-in tools doing the checks.
TEST(SignedInstall, StandInsAcceptTheBuildsInstallerPackage) {
    const auto work = freshDirectory("brivane-signed-install");
    const auto package =
        readText(makePackage(developmentCertificates, "installer", "payload", work / "p.pkg"));

    auto script = std::make_shared<TransferScript>();
    script->manifestAnswer = manifestAnswer(manifestFor("2.0", package).dump());
    script->packageAnswer = packageAnswer();
    script->packageContent = package;
    auto workspace = std::make_shared<FakeWorkspace>();
    workspace->caches = (work / "caches").string();
    platform::MainQueue main;

    CompanionUpdater::Dependencies dependencies;
    dependencies.makeTransfer = [script](std::shared_ptr<platform::SerialQueue> queue) {
        return std::make_unique<FakeTransfer>(std::move(queue), script);
    };
    dependencies.toolRunner =
        std::make_shared<RedirectingToolRunner>(std::map<std::string, std::vector<std::string>>{
            {"/usr/sbin/pkgutil", {codesignTool, "pkgutil"}},
            {"/usr/sbin/spctl", {codesignTool, "spctl"}}});
    dependencies.workspace = workspace;
    dependencies.osVersion = std::make_shared<FixedOSVersion>();
    dependencies.bundleInfo = std::make_shared<platform::StaticBundleInfo>(
        std::map<std::string, std::string, std::less<>>{
            {"BrivaneTeamIdentifier", BRIVANE_TEAM_ID}});
    dependencies.fileMapper = platform::makeDefaultFileMapper();
    dependencies.mainQueue = &main;
    ReplyLog log;
    {
        CompanionUpdater updater(dependencies);
        updater.perform(SensorCompanionCommand::installUpdate, log.recorder());
        EXPECT_EQ(log.waitFor(1, main),
                  (SensorCompanionUpdate{SensorCompanionUpdate::State::installerOpened, "2.0",
                                         std::nullopt}));
    }
    // Another team's updater refuses the same package.
    dependencies.bundleInfo = std::make_shared<platform::StaticBundleInfo>(
        std::map<std::string, std::string, std::less<>>{{"BrivaneTeamIdentifier", "OTHER00000"}});
    {
        CompanionUpdater updater(dependencies);
        updater.perform(SensorCompanionCommand::installUpdate, log.recorder());
        EXPECT_EQ(log.waitFor(2, main)->message,
                  "The companion installer is not signed by Brivane\xE2\x80\x99s developer.");
    }
    std::filesystem::remove_all(work);
}

} // namespace
} // namespace brivane
