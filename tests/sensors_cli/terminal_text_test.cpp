#include "sensors-cli/terminal_text.h"

#include <gtest/gtest.h>

namespace brivane::cli {
namespace {

TEST(TerminalText, ControlsAndBidirectionalOverridesBecomeEscapes) {
    const std::pair<std::string, std::string> cases[] = {
        {"café 42 °C", "café 42 °C"},
        {"\x1b]0;PWNED\a\x1b[2J", R"(\x1b]0;PWNED\x07\x1b[2J)"},
        {"a\nb\tc\x7f", R"(a\x0ab\x09c\x7f)"},
        // NOLINTNEXTLINE(misc-misleading-bidirectional): the marks are what is tested
        {"\u009b2J \u202ecba \u2066", R"(\u009b2J \u202ecba \u2066)"},
        {"\xFF\xE2\x82 end", R"(\xff\xe2\x82 end)"},
    };
    for (const auto& [text, shown] : cases) {
        EXPECT_EQ(terminalSafe(text), shown);
    }
    EXPECT_EQ(terminalSafeJson("{\"a\":\"\xC2\x9B\x7f\"}\n"), "{\"a\":\"\\u009b\\u007f\"}\n");
    EXPECT_EQ(terminalSafeJson("{\"a\":\"\x1b[2J\"}"), std::nullopt);
    EXPECT_EQ(terminalSafeJson("{\"a\":\"\xFF\"}"), std::nullopt);
}

} // namespace
} // namespace brivane::cli
