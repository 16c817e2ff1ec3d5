#pragma once

#include "formats/document_codec.h"
#include "ipc/sensor_service_protocol.h"

#include <string>
#include <utility>

namespace brivane {

// Encodes one document for one reply and hands the bytes over; a document that cannot be
// encoded is answered with no data, never with part of it. Returns the encoded size.
template <typename Document>
std::size_t replyWith(const ipc::BrivaneSensorSnapshotXPC::Reply& reply, const Document& document,
                      std::size_t capacityHint = 0) {
    std::string bytes;
    bytes.reserve(capacityHint);
    if (!encode(document, bytes)) {
        reply(std::nullopt);
        return 0;
    }
    const std::size_t size = bytes.size();
    reply(std::move(bytes));
    return size;
}

} // namespace brivane
