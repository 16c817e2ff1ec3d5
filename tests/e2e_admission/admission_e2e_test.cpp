#include "support/staged_agent.h"

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>

namespace brivane::testing {
namespace {

namespace fs = std::filesystem;

// One agent of the test variant (trusting only the test anchor) in a bundle whose team is
// ADMTEST001, and one client copy per case, signed or tampered with as the case says.
class Admission : public ::testing::Test {
protected:
    // A copy of the CLI at <stage>/clients/<name>/brivane-sensors, signed as asked.
    std::string client(const std::string& name, const std::optional<std::string>& identifier,
                       const std::string& certificate = "team") {
        const auto folder = staged_.root() / "clients" / name;
        fs::create_directories(folder);
        fs::permissions(staged_.root() / "clients", fs::perms(0755));
        fs::permissions(folder, fs::perms(0755));
        const auto path = (folder / "brivane-sensors").string();
        fs::copy(BRIVANE_ADMISSION_CLI, path);
        if (identifier) {
            const auto pem = std::string(BRIVANE_ADMISSION_CERTIFICATES) + "/" + certificate;
            const auto signing =
                runCommand({BRIVANE_ADMISSION_CODESIGN, "sign", "--identifier", *identifier,
                            "--certificate", pem + ".pem", "--key", pem + "-key.pem", path},
                           {}, staged_.scratch());
            EXPECT_EQ(signing.status, 0) << name;
            fs::permissions(path + ".sig", fs::perms(0644));
        }
        return path;
    }

    CommandResult ask(const std::string& clientPath) {
        return staged_.run({clientPath, "--endpoint", staged_.endpoint(), "snapshot"});
    }

    StagedAgent staged_{{.agent = BRIVANE_ADMISSION_AGENT, .team = "ADMTEST001"}};
};

TEST_F(Admission, OnlyClientsSatisfyingTheRequirementAreAnswered) {
    struct Case {
        const char* name;
        std::optional<std::string> identifier;
        const char* certificate;
        bool admitted;
    };
    const Case cases[] = {
        {"client", "dev.qorva.brivane", "team", true},
        {"beta", "dev.qorva.brivane.beta", "team", true},
        {"verification", "dev.qorva.brivane.Verification", "team", true},
        {"unlisted", "dev.qorva.brivane.alpha", "team", false},
        {"other team", "dev.qorva.brivane", "other", false},
        {"extension", "dev.qorva.brivane", "extension", true},
        {"extension, beta", "dev.qorva.brivane.beta", "extension", false},
        {"foreign anchor", "dev.qorva.brivane", "foreign", false},
        {"expired", "dev.qorva.brivane", "expired", false},
        {"unsigned", std::nullopt, "team", false},
    };
    std::vector<std::string> paths;
    for (const auto& c : cases) {
        paths.push_back(client(c.name, c.identifier, c.certificate));
    }
    // Changed after signing: one byte appended to a correctly signed copy.
    const auto tampered = client("tampered", "dev.qorva.brivane");
    std::ofstream(tampered, std::ios::app | std::ios::binary) << '\0';
    auto* agent = staged_.startAgent();
    ASSERT_TRUE(agent);

    for (std::size_t index = 0; index < std::size(cases); ++index) {
        const auto result = ask(paths[index]);
        EXPECT_EQ(result.status == 0, cases[index].admitted) << cases[index].name;
        EXPECT_EQ(result.output.find("Temperatures") != std::string::npos, cases[index].admitted)
            << cases[index].name << ": " << result.output;
    }
    const auto result = ask(tampered);
    EXPECT_NE(result.status, 0);
    EXPECT_EQ(result.output.find("Temperatures"), std::string::npos);
    EXPECT_TRUE(agent->running()) << "refusals must not harm the agent";
}

} // namespace
} // namespace brivane::testing
