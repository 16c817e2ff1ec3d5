#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace brivane::cli {

// What the exporter takes from a request's head. It serves no request bodies: a request that
// announces one is answered and its connection closed, so no byte of a body is ever read as a
// request of its own.
struct RequestHead {
    std::string method;
    std::string path; // %XX decoded, the query left out
    bool http10 = false;
    bool keepAlive = true; // as the request's version and Connection header ask
    bool announcesBody = false;
    std::optional<std::string> authorization;
};

enum class HeadVerdict {
    complete,
    incomplete,   // wait for more bytes
    malformed,    // 400
    tooLarge,     // 431
    wrongVersion, // 505: not HTTP/1.0 or 1.1
};

struct ParsedHead {
    HeadVerdict verdict = HeadVerdict::incomplete;
    RequestHead head;
    std::size_t length = 0; // bytes of the head, when complete
};

// The request head at the start of bytes, which holds at most limit bytes of it.
ParsedHead parseRequestHead(std::string_view bytes, std::size_t limit);

} // namespace brivane::cli
