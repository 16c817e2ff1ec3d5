#include "ipc/frame_codec.h"

#include <gtest/gtest.h>

namespace brivane::ipc {
namespace {

using namespace std::literals;

std::string u32(std::uint32_t value) {
    return {static_cast<char>(value >> 24), static_cast<char>(value >> 16),
            static_cast<char>(value >> 8), static_cast<char>(value)};
}

std::string requestBody(std::uint32_t id, std::string_view selector, int hasArgument,
                        std::string_view argument = {}) {
    return u32(id) + static_cast<char>(selector.size()) + std::string(selector) +
           static_cast<char>(hasArgument) + std::string(argument);
}

// Bodies made by hand pin the wire format; that encoding is decoding's inverse is the fuzz
// target's check, and whole frames cross a real socket in the listener's tests.
TEST(FrameCodec, FramesDecodeAsWrittenOrWithTheReasonTheyAreRefused) {
    using Decoded = std::variant<Request, DecodeError>;
    const struct Case {
        const char* name;
        std::string body;
        Decoded decoded;
    } cases[] = {
        // An empty argument is present, not absent: the service answers it with no data.
        {"empty argument", requestBody(0xA1B2C3D4, "manage:reply:", 1),
         Request{0xA1B2C3D4, Selector::manage, ""}},
        {"UTF-8 argument", requestBody(3, "processDetails:reply:", 1, "Grüße"),
         Request{3, Selector::processDetails, "Grüße"}},
        {"NUL in argument", requestBody(3, "storageHealth:reply:", 1, "with\0nul"sv),
         Request{3, Selector::storageHealth, "with\0nul"s}},
        {"id only", u32(1), DecodeError::truncated},
        {"flag missing", u32(1) + "\x12snapshotWithReply:", DecodeError::truncated},
        {"selector case", requestBody(1, "SnapshotWithReply:", 0), DecodeError::unknownSelector},
        {"argument to snapshot", requestBody(1, "snapshotWithReply:", 1, "x"),
         DecodeError::wrongArgument},
        {"no argument to manage", requestBody(1, "manage:reply:", 0), DecodeError::wrongArgument},
        {"flag not boolean", requestBody(1, "processDetails:reply:", 2, "memory"),
         DecodeError::wrongArgument},
        {"bytes after argumentless", requestBody(1, "cpuDetailsWithReply:", 0, "x"),
         DecodeError::trailingBytes},
        {"lone continuation", requestBody(1, "storageHealth:reply:", 1, "disk\x80"),
         DecodeError::invalidUtf8},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(decodeRequest(c.body), c.decoded);
    }

    EXPECT_EQ(decodeReply(u32(5) + '\1' + "{}"), (Reply{5, "{}"}));
    EXPECT_EQ(decodeReply(u32(6) + '\1'), (Reply{6, ""})); // empty data is data
    EXPECT_EQ(decodeReply(u32(7) + '\0'), (Reply{7, std::nullopt}));
    for (const auto& bad : {u32(1), u32(1) + '\2', u32(1) + '\0' + "stray"}) {
        EXPECT_FALSE(decodeReply(bad));
    }
    using enum FrameScan::Status;
    EXPECT_EQ(scanFrame("\0\0\0"sv, maximumRequestBody).status, incomplete);
    EXPECT_EQ(scanFrame(u32(10) + "12345", maximumRequestBody).status, incomplete);
    EXPECT_EQ(scanFrame(u32(64 * 1024), maximumRequestBody).status, incomplete);
    // Decided from the length alone: the body is never waited for.
    EXPECT_EQ(scanFrame(u32(64 * 1024 + 1), maximumRequestBody).status, oversized);
    EXPECT_EQ(scanFrame(u32(0xFFFFFFFF), maximumReplyBody).status, oversized);
}

} // namespace
} // namespace brivane::ipc
