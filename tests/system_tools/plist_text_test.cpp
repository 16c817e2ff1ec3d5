#include "plist_text.h"

#include <gtest/gtest.h>

namespace brivane::system_tools {
namespace {

TEST(PlistTextTest, CharacterDataReplacesPerByteAndEscapesMarkup) {
    const std::string fffd = "\xEF\xBF\xBD";
    struct Case {
        std::string bytes;
        std::string expected;
    };
    const Case cases[] = {
        {"a<b>&c", "a&lt;b&gt;&amp;c"},
        {"\xC3\xA9\t\n", "\xC3\xA9\t\n"},
        {"\xE2\x82x", fffd + fffd + "x"}, // every byte of a cut sequence
        {"\x01", fffd},                   // well-formed but not allowed in XML
        {"\xEF\xBF\xBE", fffd},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.bytes);
        EXPECT_EQ(xmlCharacterData(c.bytes), c.expected);
    }
}

} // namespace
} // namespace brivane::system_tools
