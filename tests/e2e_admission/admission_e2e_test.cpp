#include "support/staged_agent.h"

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>

namespace brivane::testing {
namespace {

namespace fs = std::filesystem;

// The test variant of the agent (trusting only the test anchor, team ADMTEST001) and copies of
// the CLI signed as each case says: what real signatures give the requirement to match.
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
        {"unlisted", "dev.qorva.brivane.alpha", "team", false},
        {"other team", "dev.qorva.brivane", "other", false},
        {"extension", "dev.qorva.brivane", "extension", true},
        {"foreign anchor", "dev.qorva.brivane", "foreign", false},
        {"expired", "dev.qorva.brivane", "expired", false},
        {"unsigned", std::nullopt, "team", false},
        {"tampered", "dev.qorva.brivane", "team", false, true},
    };
    StagedAgent staged({.agent = BRIVANE_ADMISSION_AGENT, .team = "ADMTEST001"});
    auto* agent = staged.startAgent();
    ASSERT_TRUE(agent);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto client = staged.path(std::string("client ") + c.name);
        fs::copy(BRIVANE_ADMISSION_CLI, client);
        if (c.identifier) {
            const auto pem = std::string(BRIVANE_ADMISSION_CERTIFICATES) + "/" + c.certificate;
            ASSERT_EQ(runCommand({BRIVANE_ADMISSION_CODESIGN, "sign", "--identifier", *c.identifier,
                                  "--certificate", pem + ".pem", "--key", pem + "-key.pem", client},
                                 {}, staged.scratch())
                          .status,
                      0);
        }
        if (c.tampered) {
            std::ofstream(client, std::ios::app | std::ios::binary) << '\0';
        }
        const auto result = staged.run({client, "--endpoint", staged.endpoint(), "snapshot"});
        EXPECT_EQ(result.status == 0, c.admitted) << result.output;
    }
    EXPECT_TRUE(agent->running()) << "refusals must not harm the agent";
}

} // namespace
} // namespace brivane::testing
