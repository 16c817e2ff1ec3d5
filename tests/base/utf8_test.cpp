#include "base/utf8.h"

#include <gtest/gtest.h>

namespace brivane::base::utf8 {
namespace {

const std::string fffd(replacementCharacter);
const std::string boundaries =
    "\x7F\xC2\x80\xDF\xBF\xE0\xA0\x80\xED\x9F\xBF\xEE\x80\x80\xEF\xBF\xBF"
    "\xF0\x90\x80\x80\xF4\x8F\xBF\xBF";

TEST(Utf8Test, ReplacesEachMaximalIllFormedSubsequence) {
    const struct Case {
        std::string bytes;
        std::string replaced;
    } cases[] = {
        {"plain", "plain"},
        {"Caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x8E\xA7", "Caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x8E\xA7"},
        {boundaries, boundaries},     // the first and last code points of each length and range
        {"\x80", fffd},               // lone continuation
        {"a\xFFz", "a" + fffd + "z"}, // never a lead byte
        {"\xC3", fffd},               // cut at the end
        {"\xC3(", fffd + "("},        // the bad byte starts anew
        {"\xE2\xC3\xA9", fffd + "\xC3\xA9"},             // ...also when it is a lead
        {"\xE2\x82x", fffd + "x"},                       // cut prefix replaced once
        {"\xF0\x9F\x8E", fffd},                          // cut four-byte sequence
        {"\xC0\xAF", fffd + fffd},                       // overlong two-byte
        {"\xE0\x80\xAF", fffd + fffd + fffd},            // overlong three-byte
        {"\xF0\x8F\xBF\xBF", fffd + fffd + fffd + fffd}, // overlong four-byte
        {"\xED\xA0\x80", fffd + fffd + fffd},            // surrogate
        {"\xF4\x90\x80\x80", fffd + fffd + fffd + fffd}, // beyond U+10FFFF
        {"\xF5\x80\x80\x80", fffd + fffd + fffd + fffd}, // lead beyond F4
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.bytes);
        EXPECT_EQ(replacingInvalid(c.bytes), c.replaced);
        EXPECT_EQ(isValid(c.bytes), c.bytes == c.replaced);
    }
}

} // namespace
} // namespace brivane::base::utf8
