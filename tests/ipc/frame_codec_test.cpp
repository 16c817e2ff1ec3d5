#include "ipc/frame_codec.h"

#include <gtest/gtest.h>
#include <string>
#include <variant>

namespace brivane::ipc {
namespace {

using namespace std::literals;

std::string u32(std::uint32_t value) {
    return {static_cast<char>(value >> 24), static_cast<char>(value >> 16),
            static_cast<char>(value >> 8), static_cast<char>(value)};
}

std::string requestBody(std::uint32_t id, std::string_view selector, int hasArgument,
                        std::string_view argument = {}) {
    std::string body = u32(id);
    body.push_back(static_cast<char>(selector.size()));
    body.append(selector);
    body.push_back(static_cast<char>(hasArgument));
    body.append(argument);
    return body;
}

// Bodies made by hand pin the wire format; that encoding is decoding's inverse is the fuzz
// target's check, and whole frames cross a real socket in the listener's tests.
TEST(FrameCodec, HandMadeBodiesDecodeAsWritten) {
    // An empty argument is present, not absent: the service answers it with no data.
    EXPECT_EQ(std::get<Request>(decodeRequest(requestBody(0xA1B2C3D4, "manage:reply:", 1))),
              (Request{0xA1B2C3D4, Selector::manage, std::string()}));
    EXPECT_EQ(decodeReply(u32(5) + '\1' + "{}"), (Reply{5, "{}"}));
    EXPECT_EQ(decodeReply(u32(6) + '\1'), (Reply{6, std::string()})); // empty data is data
    EXPECT_EQ(decodeReply(u32(7) + '\0'), (Reply{7, std::nullopt}));
    EXPECT_FALSE(decodeReply(u32(1)));
    EXPECT_FALSE(decodeReply(u32(1) + '\2'));
    EXPECT_FALSE(decodeReply(u32(1) + '\0' + "stray"));
}

TEST(FrameCodec, ScannerReportsIncompleteAndOversizedFrames) {
    EXPECT_EQ(scanFrame("", maximumRequestBody).status, FrameScan::Status::incomplete);
    EXPECT_EQ(scanFrame(std::string("\0\0\0", 3), maximumRequestBody).status,
              FrameScan::Status::incomplete);
    EXPECT_EQ(scanFrame(u32(10) + "12345", maximumRequestBody).status,
              FrameScan::Status::incomplete);
    EXPECT_EQ(scanFrame(u32(64 * 1024), maximumRequestBody).status, FrameScan::Status::incomplete);
    // Decided from the length alone: the body is never waited for.
    EXPECT_EQ(scanFrame(u32(64 * 1024 + 1), maximumRequestBody).status,
              FrameScan::Status::oversized);
    EXPECT_EQ(scanFrame(u32(0xFFFFFFFF), maximumReplyBody).status, FrameScan::Status::oversized);
}

struct BadRequest {
    const char* name;
    std::string body;
    DecodeError error;
};

TEST(FrameCodec, MalformedRequestsAreRejectedWithTheirReason) {
    const std::vector<BadRequest> cases = {
        {"empty", "", DecodeError::truncated},
        {"id only", u32(1), DecodeError::truncated},
        {"selector cut short", u32(1) + "\x12snapshot", DecodeError::truncated},
        {"flag missing", u32(1) + "\x12snapshotWithReply:", DecodeError::truncated},
        {"unknown selector", requestBody(1, "snapshot:", 0), DecodeError::unknownSelector},
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
        const auto result = decodeRequest(c.body);
        ASSERT_TRUE(std::holds_alternative<DecodeError>(result)) << c.name;
        EXPECT_EQ(std::get<DecodeError>(result), c.error) << c.name;
    }
}

TEST(FrameCodec, WellFormedUtf8ArgumentsPass) {
    for (std::string_view text : {"memory"sv, "Grüße"sv, "with\0nul"sv}) {
        const auto result = decodeRequest(requestBody(3, "processDetails:reply:", 1, text));
        ASSERT_TRUE(std::holds_alternative<Request>(result)) << text;
        EXPECT_EQ(std::get<Request>(result).argument, std::string(text));
    }
}

} // namespace
} // namespace brivane::ipc
