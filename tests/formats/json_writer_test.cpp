#include "formats/json_writer.h"

#include <gtest/gtest.h>
#include <limits>
#include <string>

namespace brivane {
namespace {

std::string writtenString(std::string_view text) {
    std::string out;
    JsonWriter(out).string(text);
    return out;
}

std::string writtenNumber(double value) {
    std::string out;
    JsonWriter writer(out);
    writer.number(value);
    return writer.ok() ? out : "<failed>";
}

// Escapes what JSON requires (and "/"), and writes ill-formed UTF-8 as U+FFFD.
TEST(JsonWriterTest, EscapesStrings) {
    const std::string fffd = "\xEF\xBF\xBD";
    const struct {
        std::string input;
        std::string expected;
    } cases[] = {
        {"plain", R"("plain")"},
        {"", R"("")"},
        {"say \"hi\"", R"("say \"hi\"")"},
        {"back\\slash", R"("back\\slash")"},
        {"/usr/bin/top", R"("\/usr\/bin\/top")"},
        {"a\nb\tc\rd\be\ff", R"("a\nb\tc\rd\be\ff")"},
        {std::string("nul\0end", 7), R"("nul\u0000end")"},
        {"\x01\x1f\x7f", "\"\\u0001\\u001f\x7f\""},
        {"Caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x8E\xA7",
         "\"Caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x8E\xA7\""},
        {"\xC3\xA9\xE2\x82\"\n", "\"\xC3\xA9" + fffd + "\\\"\\n\""}, // then escapes resume
    };
    for (const auto& c : cases) {
        EXPECT_EQ(writtenString(c.input), c.expected) << c.input;
    }
}

TEST(JsonWriterTest, WritesShortestRoundTripNumbers) {
    const struct {
        double value;
        std::string_view expected;
    } cases[] = {
        {1200.0, "1200"},
        {30.5, "30.5"},
        {0.0, "0"},
        {-0.0, "-0"},
        {0.1, "0.1"},
        {-12.25, "-12.25"},
        {1e21, "1e+21"},
        {5e-324, "5e-324"},
        {1.0 / 3.0, "0.3333333333333333"},
        {4294967295.0, "4294967295"},
        {std::numeric_limits<double>::quiet_NaN(), "<failed>"},
        {std::numeric_limits<double>::infinity(), "<failed>"},
        {-std::numeric_limits<double>::infinity(), "<failed>"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(writtenNumber(c.value), c.expected) << c.expected;
    }
}

} // namespace
} // namespace brivane
