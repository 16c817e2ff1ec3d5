#include "support/staged_agent.h"

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>

namespace brivane::testing {
namespace {

namespace fs = std::filesystem;

// One agent of the test variant (trusting only the test anchor) in a bundle whose team is
// ADMTEST001, asked for a snapshot by copies of the CLI signed (or not) as each case says.
TEST(Admission, OnlyClientsSatisfyingTheRequirementAreAnswered) {
    struct Case {
        const char* name;
        std::optional<std::string> identifier; // none: unsigned
        const char* certificate;
        bool admitted;
        bool tampered = false; // one byte appended after signing
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
        {"tampered", "dev.qorva.brivane", "team", false, true},
    };
    StagedAgent staged({.agent = BRIVANE_ADMISSION_AGENT, .team = "ADMTEST001"});
    std::vector<std::string> clients;
    for (const auto& c : cases) { // <stage>/clients/<name>/brivane-sensors
        const auto folder = staged.root() / "clients" / c.name;
        fs::create_directories(folder);
        const auto path = clients.emplace_back(folder / "brivane-sensors");
        fs::copy(BRIVANE_ADMISSION_CLI, path);
        if (c.identifier) {
            const auto pem = std::string(BRIVANE_ADMISSION_CERTIFICATES) + "/" + c.certificate;
            EXPECT_EQ(runCommand({BRIVANE_ADMISSION_CODESIGN, "sign", "--identifier", *c.identifier,
                                  "--certificate", pem + ".pem", "--key", pem + "-key.pem", path},
                                 {}, staged.scratch())
                          .status,
                      0)
                << c.name;
        }
        if (c.tampered) {
            std::ofstream(path, std::ios::app | std::ios::binary) << '\0';
        }
    }
    for (const auto& entry : fs::recursive_directory_iterator(staged.root() / "clients")) {
        fs::permissions(entry, fs::perms::others_read | fs::perms::others_exec,
                        fs::perm_options::add);
    }
    fs::permissions(staged.root() / "clients", fs::perms(0755));
    auto* agent = staged.startAgent();
    ASSERT_TRUE(agent);

    for (std::size_t i = 0; i < std::size(cases); ++i) {
        SCOPED_TRACE(cases[i].name);
        const auto result = staged.run({clients[i], "--endpoint", staged.endpoint(), "snapshot"});
        EXPECT_EQ(result.status == 0, cases[i].admitted);
        EXPECT_EQ(result.output.find("Temperatures") != std::string::npos, cases[i].admitted)
            << result.output;
    }
    EXPECT_TRUE(agent->running()) << "refusals must not harm the agent";
}

} // namespace
} // namespace brivane::testing
