#include "ipc/frame_codec.h"

#include "base/utf8.h"

#include <array>

namespace brivane::ipc {
namespace {

constexpr std::array<std::string_view, 5> selectorNames = {
    "snapshotWithReply:", "cpuDetailsWithReply:", "processDetails:reply:", "storageHealth:reply:",
    "manage:reply:"};

void putU32(char* out, std::uint32_t value) {
    out[0] = static_cast<char>(value >> 24);
    out[1] = static_cast<char>(value >> 16);
    out[2] = static_cast<char>(value >> 8);
    out[3] = static_cast<char>(value);
}

void appendU32(std::string& out, std::uint32_t value) {
    char bytes[4];
    putU32(bytes, value);
    out.append(bytes, 4);
}

std::uint32_t readU32(std::string_view bytes) {
    return static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[0])) << 24 |
           static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[1])) << 16 |
           static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[2])) << 8 |
           static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[3]));
}

} // namespace

std::string_view selectorName(Selector selector) {
    return selectorNames[static_cast<std::size_t>(selector)];
}

std::optional<Selector> selectorNamed(std::string_view name) {
    for (std::size_t i = 0; i < selectorNames.size(); ++i) {
        if (selectorNames[i] == name) {
            return static_cast<Selector>(i);
        }
    }
    return std::nullopt;
}

bool takesArgument(Selector selector) {
    return selector != Selector::snapshot && selector != Selector::cpuDetails;
}

std::string_view describe(DecodeError error) {
    switch (error) {
    case DecodeError::truncated:
        return "truncated request";
    case DecodeError::unknownSelector:
        return "unknown selector";
    case DecodeError::wrongArgument:
        return "wrong argument presence";
    case DecodeError::invalidUtf8:
        return "argument is not UTF-8";
    case DecodeError::trailingBytes:
        return "bytes after the request";
    }
    return "malformed request";
}

FrameScan scanFrame(std::string_view buffer, std::size_t maximumBody) {
    if (buffer.size() < frameHeaderSize) {
        return {};
    }
    const std::size_t bodySize = readU32(buffer);
    if (bodySize > maximumBody) {
        return {FrameScan::Status::oversized, bodySize};
    }
    if (buffer.size() - frameHeaderSize < bodySize) {
        return {FrameScan::Status::incomplete, bodySize};
    }
    return {FrameScan::Status::complete, bodySize};
}

void appendRequestFrame(std::string& out, std::uint32_t id, Selector selector,
                        std::optional<std::string_view> argument) {
    const auto name = selectorName(selector);
    const std::size_t body = 4 + 1 + name.size() + 1 + (argument ? argument->size() : 0);
    appendU32(out, static_cast<std::uint32_t>(body));
    appendU32(out, id);
    out.push_back(static_cast<char>(name.size()));
    out.append(name);
    out.push_back(argument ? 1 : 0);
    if (argument) {
        out.append(*argument);
    }
}

std::array<char, replyHeaderSize> replyHeader(std::uint32_t id,
                                              std::optional<std::size_t> documentSize) {
    std::array<char, replyHeaderSize> header{};
    putU32(header.data(), static_cast<std::uint32_t>(5 + documentSize.value_or(0)));
    putU32(header.data() + 4, id);
    header[8] = documentSize ? 1 : 0;
    return header;
}

void appendReplyFrame(std::string& out, std::uint32_t id,
                      const std::optional<std::string>& document) {
    const auto header =
        replyHeader(id, document ? std::optional<std::size_t>(document->size()) : std::nullopt);
    out.append(header.data(), header.size());
    if (document) {
        out.append(*document);
    }
}

std::variant<Request, DecodeError> decodeRequest(std::string_view body) {
    if (body.size() < 5) {
        return DecodeError::truncated;
    }
    Request request;
    request.id = readU32(body);
    const std::size_t nameSize = static_cast<unsigned char>(body[4]);
    body.remove_prefix(5);
    if (body.size() < nameSize + 1) {
        return DecodeError::truncated;
    }
    const auto selector = selectorNamed(body.substr(0, nameSize));
    if (!selector) {
        return DecodeError::unknownSelector;
    }
    request.selector = *selector;
    const auto hasArgument = static_cast<unsigned char>(body[nameSize]);
    body.remove_prefix(nameSize + 1);
    if (hasArgument > 1 || (hasArgument == 1) != takesArgument(*selector)) {
        return DecodeError::wrongArgument;
    }
    if (hasArgument == 0) {
        if (!body.empty()) {
            return DecodeError::trailingBytes;
        }
        return request;
    }
    if (!base::utf8::isValid(body)) {
        return DecodeError::invalidUtf8;
    }
    request.argument.emplace(body);
    return request;
}

std::optional<Reply> decodeReply(std::string_view body) {
    if (body.size() < 5) {
        return std::nullopt;
    }
    Reply reply;
    reply.id = readU32(body);
    const auto hasData = static_cast<unsigned char>(body[4]);
    body.remove_prefix(5);
    if (hasData > 1 || (hasData == 0 && !body.empty())) {
        return std::nullopt;
    }
    if (hasData == 1) {
        reply.document.emplace(body);
    }
    return reply;
}

} // namespace brivane::ipc
