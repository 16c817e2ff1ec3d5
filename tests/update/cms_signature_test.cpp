#include "platform/linux/cms_signature.h"
#include "support/temp_dir.h"
#include "update/installer_signature.h"
#include "update/signature_fixtures.h"
#include "update/updater_fakes.h"

#include <sys/wait.h>

namespace brivane {
namespace {

using namespace brivane::testing;
using namespace brivane::platform::linux_backend;

std::span<const unsigned char> bytesOf(const std::string& text) {
    return {reinterpret_cast<const unsigned char*>(text.data()), text.size()};
}

class CmsSignatureTest : public ::testing::Test {
public:
    static void SetUpTestSuite() {
        temp_ = std::make_unique<TempDir>("brivane-cms");
        work_ = temp_->path();
        foreign_ = work_ / "foreign";
        ASSERT_EQ(runCommand("sh '" BRIVANE_TEST_CERTIFICATE_SCRIPT "' '" + foreign_.string() +
                             "' FOREIGN000"),
                  0);
    }
    static void TearDownTestSuite() { temp_.reset(); }

    static inline std::unique_ptr<TempDir> temp_;
    static inline std::filesystem::path work_;
    static inline std::filesystem::path foreign_;
};

TEST_F(CmsSignatureTest, VerifiesToTheBuildAnchorAndReportsTheChain) {
    const auto package =
        readText(makePackage(developmentCertificates, "installer", "payload", work_ / "ok.pkg"));
    const auto result = CmsVerifier().verify(bytesOf(package));
    ASSERT_TRUE(result.verified) << result.error;
    EXPECT_EQ(result.content, "payload");
    ASSERT_EQ(result.chain.size(), 2u);
    EXPECT_EQ(result.chain[0].organizationalUnit, BRIVANE_TEAM_ID);
    EXPECT_TRUE(isInstallerCertificate(result.chain[0]));
    EXPECT_EQ(result.chain[1].commonName, "Brivane Development Root");
}

TEST_F(CmsSignatureTest, RejectsForeignAnchorsTamperingAndGarbage) {
    const auto foreign =
        readText(makePackage(foreign_, "installer", "payload", work_ / "foreign.pkg"));
    EXPECT_FALSE(CmsVerifier().verify(bytesOf(foreign)).verified);
    EXPECT_TRUE(CmsVerifier(readText(foreign_ / "anchor.pem")).verify(bytesOf(foreign)).verified);
    EXPECT_FALSE(CmsVerifier("").verify(bytesOf(foreign)).verified);

    auto tampered =
        readText(makePackage(developmentCertificates, "installer", "payload", work_ / "t.pkg"));
    const auto at = tampered.find("payload");
    ASSERT_NE(at, std::string::npos);
    tampered[at] = 'P';
    EXPECT_FALSE(CmsVerifier().verify(bytesOf(tampered)).verified);

    for (const std::string& garbage :
         {std::string(), std::string("\x30\x82\xff\xff", 4), std::string(100, '\0')}) {
        const auto result = CmsVerifier().verify(bytesOf(garbage));
        EXPECT_FALSE(result.verified);
        EXPECT_FALSE(result.error.empty());
    }
}

TEST(ExecutableSignatureContent, RoundTripsAndRejectsMalformedText) {
    const std::string digest(64, 'c');
    const auto text = executableSignatureContent("dev.qorva.brivane", digest);
    EXPECT_EQ(text, "identifier=dev.qorva.brivane\nexecutable-sha256=" + digest + "\n");
    const auto parsed = parseExecutableSignatureContent(text);
    ASSERT_TRUE(parsed);
    EXPECT_EQ(parsed->identifier, "dev.qorva.brivane");
    EXPECT_EQ(parsed->executableSha256, digest);
    for (const std::string& bad : std::vector<std::string>{
             "", "identifier=\nexecutable-sha256=" + digest + "\n",
             "identifier=a\nexecutable-sha256=abc\n", "identifier=a\nexecutable-sha256=" + digest,
             "name=a\nexecutable-sha256=" + digest + "\n"}) {
        EXPECT_FALSE(parseExecutableSignatureContent(bad)) << bad;
    }
}

TEST_F(CmsSignatureTest, StandInToolsAnswerLikeThePackageAndPolicyTools) {
    const auto installer =
        makePackage(developmentCertificates, "installer", "payload", work_ / "i.pkg");
    const auto team = makePackage(developmentCertificates, "team", "payload", work_ / "team.pkg");
    const auto foreign = makePackage(foreign_, "installer", "payload", work_ / "f.pkg");
    const auto output = work_ / "out.txt";
    const auto tool = [&](const std::string& arguments, const std::filesystem::path& package) {
        return runCommand(codesignTool + " " + arguments + " '" + package.string() + "' > '" +
                          output.string() + "' 2>/dev/null");
    };

    ASSERT_EQ(tool("pkgutil --check-signature", installer), 0);
    EXPECT_TRUE(hasInstallerCertificateLine(readText(output), BRIVANE_TEAM_ID)) << readText(output);
    EXPECT_FALSE(hasInstallerCertificateLine(readText(output), "OTHER"));
    EXPECT_EQ(tool("spctl --assess --type install", installer), 0);
    EXPECT_NE(tool("pkgutil --check-signature", foreign), 0);
    EXPECT_NE(tool("spctl --assess --type install", foreign), 0);
    // Verifies, but the leaf is not an installer certificate.
    EXPECT_NE(tool("spctl --assess --type install", team), 0);
}

// The whole install path with a package signed by the build's installer certificate and the
// stand-in tools doing the checks; another team's updater refuses the same package.
TEST_F(CmsSignatureTest, StandInsAcceptTheBuildsInstallerPackageForItsTeamOnly) {
    const auto package =
        readText(makePackage(developmentCertificates, "installer", "payload", work_ / "p.pkg"));
    auto workspace = std::make_shared<FakeWorkspace>();
    workspace->caches = (work_ / "caches").string();
    platform::MainQueue main;
    ReplyLog log;
    const auto tools =
        std::make_shared<RedirectingToolRunner>(std::map<std::string, std::vector<std::string>>{
            {"/usr/sbin/pkgutil", {codesignTool, "pkgutil"}},
            {"/usr/sbin/spctl", {codesignTool, "spctl"}}});
    const std::vector<std::pair<std::string, SensorCompanionUpdate>> cases = {
        {BRIVANE_TEAM_ID, {SensorCompanionUpdate::State::installerOpened, "2.0", std::nullopt}},
        {"OTHER00000", {SensorCompanionUpdate::State::failed, std::nullopt, signatureRefusal}},
    };
    for (std::size_t i = 0; i < cases.size(); ++i) {
        SCOPED_TRACE(cases[i].first);
        CompanionUpdater updater(fakeDependencies(offering(package), tools, workspace,
                                                  {{"BrivaneTeamIdentifier", cases[i].first}},
                                                  main));
        updater.perform(SensorCompanionCommand::installUpdate, log.recorder());
        EXPECT_EQ(log.waitFor(i + 1, main), cases[i].second);
    }
}

TEST_F(CmsSignatureTest, ExecutableSignatureNoticesAChangedExecutable) {
    const auto executable = work_ / "program";
    std::ofstream(executable, std::ios::binary) << "#!/bin/sh\n";
    const auto certs = developmentCertificates.string();
    ASSERT_EQ(runCommand(codesignTool + " sign --identifier dev.qorva.brivane --certificate '" +
                         certs + "/team.pem' --key '" + certs + "/team-key.pem' '" +
                         executable.string() + "'"),
              0);
    EXPECT_EQ(runCommand(codesignTool + " verify '" + executable.string() + "' >/dev/null"), 0);
    std::ofstream(executable, std::ios::binary | std::ios::app) << "echo changed\n";
    EXPECT_NE(runCommand(codesignTool + " verify '" + executable.string() + "' >/dev/null"), 0);
}

} // namespace
} // namespace brivane
