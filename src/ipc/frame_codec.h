#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

namespace brivane::ipc {

// Wire format shared by the listener, the client library and the tests. Every frame is a
// 4-byte big-endian body length followed by the body.
//   request body: u32 id, u8 n, n selector bytes, u8 hasArgument, argument bytes (UTF-8)
//   reply body:   u32 id, u8 hasData, document bytes

inline constexpr std::size_t frameHeaderSize = 4;
inline constexpr std::size_t maximumRequestBody = 64 * 1024;
// Replies carry whole documents; the cap only protects clients from a corrupt length.
inline constexpr std::size_t maximumReplyBody = 16 * 1024 * 1024;

enum class Selector : std::uint8_t {
    snapshot,
    cpuDetails,
    processDetails,
    storageHealth,
    manage,
};

std::string_view selectorName(Selector selector);
std::optional<Selector> selectorNamed(std::string_view name);
bool takesArgument(Selector selector);

struct Request {
    std::uint32_t id = 0;
    Selector selector = Selector::snapshot;
    std::optional<std::string> argument;

    bool operator==(const Request&) const = default;
};

struct Reply {
    std::uint32_t id = 0;
    std::optional<std::string> document; // absent: no data

    bool operator==(const Reply&) const = default;
};

enum class DecodeError {
    truncated,       // the body ends inside a field
    unknownSelector, // selector bytes name none of the five requests
    wrongArgument,   // argument flag not 0/1, or presence not what the selector takes
    invalidUtf8,     // argument bytes are not well-formed UTF-8
    trailingBytes,   // bytes after a request that takes no argument, or after hasData 0
};

std::string_view describe(DecodeError error);

// Where the next frame stands in a receive buffer.
struct FrameScan {
    enum class Status { incomplete, complete, oversized } status = Status::incomplete;
    std::size_t bodySize = 0; // valid when complete or oversized
};

FrameScan scanFrame(std::string_view buffer, std::size_t maximumBody);

void appendRequestFrame(std::string& out, std::uint32_t id, Selector selector,
                        std::optional<std::string_view> argument);
void appendReplyFrame(std::string& out, std::uint32_t id,
                      const std::optional<std::string>& document);

// The 9 bytes of a reply frame that precede its document (the whole frame when there is none),
// so a writer can send the document from where it lies.
inline constexpr std::size_t replyHeaderSize = 9;
std::array<char, replyHeaderSize> replyHeader(std::uint32_t id,
                                              std::optional<std::size_t> documentSize);

std::variant<Request, DecodeError> decodeRequest(std::string_view body);
std::optional<Reply> decodeReply(std::string_view body);

} // namespace brivane::ipc
