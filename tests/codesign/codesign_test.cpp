#include "support/child_process.h"
#include "support/temp_dir.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <gtest/gtest.h>
#include <memory>

namespace brivane::testing {
namespace {

const std::string certificates = BRIVANE_TEST_DEVELOPMENT_CERTIFICATES;
const std::string team = BRIVANE_TEAM_ID;

// The build's certificates, and a foreign anchor with a team and an installer certificate.
class Codesign : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        temp_ = std::make_unique<TempDir>("brivane-codesign");
        temp_->write("payload", "payload");
        ASSERT_EQ(runCommand({"sh", BRIVANE_TEST_CERTIFICATE_SCRIPT, foreign(), "FOREIGN000"},
                             environment(), *temp_ / "output")
                      .status,
                  0);
    }
    static void TearDownTestSuite() { temp_.reset(); }

    static std::vector<std::string> environment() {
        const char* path = std::getenv("PATH");
        return {std::string("PATH=") + (path ? path : "")};
    }
    static std::string foreign() { return *temp_ / "foreign"; }
    static CommandResult codesign(std::vector<std::string> argv) {
        argv.insert(argv.begin(), BRIVANE_TEST_CODESIGN);
        return runCommand(argv, environment(), *temp_ / "output");
    }
    // A new executable `name` signed as `identifier` with folder's team certificate.
    static std::string signedProgram(const std::string& name, const std::string& identifier,
                                     const std::string& folder = certificates) {
        temp_->write(name, "#!/bin/sh\necho " + name + "\n", 0755);
        EXPECT_EQ(codesign({"sign", "--identifier", identifier, "--certificate",
                            folder + "/team.pem", "--key", folder + "/team-key.pem", *temp_ / name})
                      .status,
                  0);
        return *temp_ / name;
    }
    // The payload as a package signed with the build's team certificate.
    static std::string package() {
        const auto path = *temp_ / "team.pkg";
        EXPECT_EQ(codesign({"package", "--certificate", certificates + "/team.pem", "--key",
                            certificates + "/team-key.pem", *temp_ / "payload", path})
                      .status,
                  0);
        return path;
    }

    static inline std::unique_ptr<TempDir> temp_;
};

TEST_F(Codesign, VerifyNamesTheSignerOrWhyItRefuses) {
    namespace fs = std::filesystem;
    const struct {
        const char* name;
        std::function<std::string()> executable;
        int status;
        std::string tail; // the end of the output
    } cases[] = {
        {"signed", [] { return signedProgram("a", "dev.example.one"); }, 0,
         "identifier: dev.example.one\nteam: " + team + "\n1. Brivane Development (" + team +
             ")\n2. Brivane Development Root\nverified: yes\n"},
        {"changed after signing",
         [] {
             const auto path = signedProgram("b", "dev.example.one");
             std::ofstream(path, std::ios::app) << "echo changed\n";
             return path;
         },
         1, "verified: no (executable changed after signing)\n"},
        {"a foreign anchor's", [] { return signedProgram("c", "dev.example.one", foreign()); }, 1,
         "verified: no ("},
        {"a package as its signature",
         [] {
             const auto path = signedProgram("d", "dev.example.one");
             fs::copy_file(package(), path + ".sig", fs::copy_options::overwrite_existing);
             return path;
         },
         1, "verified: no (not an executable signature)\n"},
        {"no signature",
         [] {
             temp_->write("e", "#!/bin/sh\n", 0755);
             return *temp_ / "e";
         },
         1, "verified: no (executable or signature unreadable)\n"},
    };
    for (const auto& c : cases) {
        const auto result = codesign({"verify", c.executable()});
        EXPECT_EQ(result.status, c.status) << c.name;
        EXPECT_NE(result.output.find(c.tail), std::string::npos) << c.name << ":\n"
                                                                 << result.output;
        if (c.status != 0) {
            EXPECT_EQ(result.output.find("verified: yes"), std::string::npos) << c.name;
        }
    }
}

TEST_F(Codesign, MalformedCommandsExitTwoAndUnreadableInputsOne) {
    const auto program = signedProgram("f", "dev.example.two");
    const std::pair<std::vector<std::string>, int> cases[] = {
        {{}, 2},
        {{"unknown"}, 2},
        {{"sign", program}, 2},
        {{"sign", "--identifier", "x", "--certificate", certificates + "/team.pem", program,
          "--key"},
         2},
        {{"sign", "--bogus", "x", program}, 2},
        {{"verify"}, 2},
        {{"package", "--certificate", "c", "--key", "k", program}, 2},
        {{"pkgutil", program}, 2},
        {{"spctl", "--assess", program}, 2},
        {{"sign", "--identifier", "x", "--certificate", *temp_ / "none", "--key", *temp_ / "none",
          program},
         1},
        {{"pkgutil", "--check-signature", *temp_ / "none"}, 1},
        {{"spctl", "--assess", "--type", "install", *temp_ / "none"}, 1},
    };
    for (const auto& [words, status] : cases)
        EXPECT_EQ(codesign(words).status, status) << ::testing::PrintToString(words);
}

} // namespace
} // namespace brivane::testing
