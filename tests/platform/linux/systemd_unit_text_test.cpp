#include "platform/linux/systemd_unit_text.h"

#include <gtest/gtest.h>

namespace brivane::platform::linux_backend {
namespace {

// What systemd would run, quoted so that blanks, '$' and '%' reach the agent unchanged; a path
// systemd refuses to run (a quote or a backslash in it) gives no unit at all.
TEST(SystemdUnitText, QuotesWhatSystemdCanRunAndRefusesTheRest) {
    const std::pair<std::vector<std::string>, const char*> cases[] = {
        {{"/opt/a b$x;(&)*%/agent", "--agent"}, R"("/opt/a b$x;(&)*%%/agent" "--agent")"},
        {{"/opt/agent", "$HOME 100%"}, R"("/opt/agent" "$$HOME 100%%")"},
        {{"/opt/it's/agent", "--agent"}, nullptr},
        {{"/opt/a\\b/agent", "--agent"}, nullptr},
    };
    for (const auto& [arguments, execStart] : cases) {
        SCOPED_TRACE(arguments.front());
        const auto text = serviceUnitText({"dev.qorva.brivane.SensorCompanion", arguments, {"s"}});
        ASSERT_EQ(text.has_value(), execStart != nullptr);
        if (text) {
            EXPECT_NE(text->find("\nExecStart=" + std::string(execStart) + "\n"), std::string::npos)
                << *text;
        }
    }
    // A stopped socket leaves no file in the runtime folder.
    EXPECT_NE(socketUnitText({"L", {"/a"}, {"s"}})->find("\nRemoveOnStop=yes\n"),
              std::string::npos);
}

} // namespace
} // namespace brivane::platform::linux_backend
