#include "platform/host/cms_signature.h"
#include "support/child_process.h"
#include "support/temp_dir.h"
#include "update/installer_signature.h"

#include <atomic>
#include <cstdlib>
#include <fstream>
#include <gtest/gtest.h>
#include <memory>
#include <thread>
#include <vector>

namespace brivane {
namespace {

using namespace brivane::testing;
using namespace brivane::platform::host;

const std::string certificates = BRIVANE_TEST_DEVELOPMENT_CERTIFICATES;
const std::string codesign = BRIVANE_TEST_CODESIGN;

std::string readText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::span<const unsigned char> bytesOf(const std::string& text) {
    return {reinterpret_cast<const unsigned char*>(text.data()), text.size()};
}

// The build's certificates and a foreign anchor with its own installer certificate.
class CmsSignatureTest : public ::testing::Test {
public:
    static void SetUpTestSuite() {
        temp_ = std::make_unique<TempDir>("brivane-cms");
        temp_->write("payload", "payload");
        ASSERT_EQ(run({"sh", BRIVANE_TEST_CERTIFICATE_SCRIPT, foreign(), "FOREIGN000"}).status, 0);
    }
    static void TearDownTestSuite() { temp_.reset(); }

    static std::string foreign() { return *temp_ / "foreign"; }

    static CommandResult run(const std::vector<std::string>& argv) {
        const char* path = std::getenv("PATH");
        return runCommand(argv, {std::string("PATH=") + (path ? path : "")}, *temp_ / "output");
    }

    // "payload" signed with folder's installer or team certificate; returns the package's path.
    static std::string package(const std::string& folder, const std::string& kind) {
        const auto out = *temp_ / (kind + std::to_string(++packages_) + ".pkg");
        EXPECT_EQ(run({codesign, "package", "--certificate", folder + "/" + kind + ".pem", "--key",
                       folder + "/" + kind + "-key.pem", *temp_ / "payload", out})
                      .status,
                  0);
        return out;
    }

    static inline std::unique_ptr<TempDir> temp_;
    static inline int packages_ = 0;
};

TEST_F(CmsSignatureTest, VerifiesToItsAnchorOnlyAndRejectsTamperingAndGarbage) {
    const auto result = CmsVerifier().verify(bytesOf(readText(package(certificates, "installer"))));
    ASSERT_TRUE(result.verified) << result.error;
    EXPECT_EQ(result.content, "payload");
    ASSERT_EQ(result.chain.size(), 2u);
    EXPECT_EQ(result.chain[0].organizationalUnit, BRIVANE_TEAM_ID);
    EXPECT_TRUE(isInstallerCertificate(result.chain[0]));
    EXPECT_EQ(result.chain[1].commonName, "Brivane Development Root");

    const auto foreignPackage = readText(package(foreign(), "installer"));
    EXPECT_FALSE(CmsVerifier().verify(bytesOf(foreignPackage)).verified);
    const CmsVerifier foreignAnchor(readText(foreign() + "/anchor.pem"));
    EXPECT_TRUE(foreignAnchor.verify(bytesOf(foreignPackage)).verified);
    EXPECT_FALSE(CmsVerifier("").verify(bytesOf(foreignPackage)).verified);

    auto tampered = readText(package(certificates, "installer"));
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

// Admission workers share one verifier; under ThreadSanitizer this shows any state that the
// verifications write into the shared anchors.
TEST_F(CmsSignatureTest, OneVerifierServesThreadsAtOnce) {
    const auto signature = readText(package(certificates, "team"));
    for (int round = 0; round < 10; ++round) {
        const CmsVerifier verifier;
        std::atomic<int> ready = 0, verified = 0;
        std::vector<std::jthread> threads;
        for (int thread = 0; thread < 4; ++thread) {
            threads.emplace_back([&] {
                for (++ready; ready < 4;) {
                }
                verified += verifier.verify(bytesOf(signature)).verified;
            });
        }
        threads.clear();
        EXPECT_EQ(verified, 4);
    }
}

TEST(ExecutableSignatureContent, RoundTripsAndRejectsMalformedText) {
    const std::string digest(64, 'c');
    const auto parsed =
        parseExecutableSignatureContent(executableSignatureContent("dev.qorva.brivane", digest));
    ASSERT_TRUE(parsed);
    EXPECT_EQ(std::pair(parsed->identifier, parsed->executableSha256),
              std::pair(std::string("dev.qorva.brivane"), digest));
    for (const std::string& bad : std::vector<std::string>{
             "", "identifier=\nexecutable-sha256=" + digest + "\n",
             "identifier=a\nexecutable-sha256=abc\n", "identifier=a\nexecutable-sha256=" + digest,
             "name=a\nexecutable-sha256=" + digest + "\n"}) {
        EXPECT_FALSE(parseExecutableSignatureContent(bad)) << bad;
    }
}

// The updater runs these with exactly these arguments on the downloaded package.
TEST_F(CmsSignatureTest, StandInToolsAnswerLikeThePackageAndPolicyTools) {
    const auto installer = package(certificates, "installer");
    const auto foreignPackage = package(foreign(), "installer");
    const auto tool = [](std::vector<std::string> argv, const std::string& file) {
        argv.insert(argv.begin(), codesign);
        argv.push_back(file);
        return run(argv);
    };
    const std::vector<std::string> check = {"pkgutil", "--check-signature"};
    const std::vector<std::string> assess = {"spctl", "--assess", "--type", "install"};

    const auto checked = tool(check, installer);
    ASSERT_EQ(checked.status, 0);
    EXPECT_TRUE(hasInstallerCertificateLine(checked.output, BRIVANE_TEAM_ID)) << checked.output;
    EXPECT_FALSE(hasInstallerCertificateLine(checked.output, "OTHER"));
    EXPECT_EQ(tool(assess, installer).status, 0);
    EXPECT_NE(tool(check, foreignPackage).status, 0);
    EXPECT_NE(tool(assess, foreignPackage).status, 0);
    // Verifies, but the leaf is not an installer certificate.
    EXPECT_NE(tool(assess, package(certificates, "team")).status, 0);
}

TEST_F(CmsSignatureTest, ExecutableSignatureNoticesAChangedExecutable) {
    const auto executable = *temp_ / "program";
    temp_->write("program", "#!/bin/sh\n");
    ASSERT_EQ(run({codesign, "sign", "--identifier", "dev.qorva.brivane", "--certificate",
                   certificates + "/team.pem", "--key", certificates + "/team-key.pem", executable})
                  .status,
              0);
    EXPECT_EQ(run({codesign, "verify", executable}).status, 0);
    std::ofstream(executable, std::ios::app) << "echo changed\n";
    EXPECT_NE(run({codesign, "verify", executable}).status, 0);
}

} // namespace
} // namespace brivane
