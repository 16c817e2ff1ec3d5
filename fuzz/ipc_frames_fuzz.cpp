// Arbitrary bytes as a request stream and as a reply stream: the scanner and both decoders must
// never crash, and whatever decodes must encode back to the same body.

#include "ipc/frame_codec.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>
#include <variant>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace brivane::ipc;
    const std::string_view input(reinterpret_cast<const char*>(data), size);

    std::string_view rest = input;
    for (;;) {
        const auto scan = scanFrame(rest, maximumRequestBody);
        if (scan.status != FrameScan::Status::complete) {
            break;
        }
        const auto body = rest.substr(frameHeaderSize, scan.bodySize);
        const auto decoded = decodeRequest(body);
        if (const auto* request = std::get_if<Request>(&decoded)) {
            std::string again;
            appendRequestFrame(again, request->id, request->selector, request->argument);
            if (std::string_view(again).substr(frameHeaderSize) != body) {
                std::abort();
            }
        }
        rest.remove_prefix(frameHeaderSize + scan.bodySize);
    }

    if (const auto reply = decodeReply(input)) {
        std::string again;
        appendReplyFrame(again, reply->id, reply->document);
        if (std::string_view(again).substr(frameHeaderSize) != input) {
            std::abort();
        }
    }
    return 0;
}
