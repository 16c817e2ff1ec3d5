#include "formats/document_codec.h"
#include "formats/json_reading.h"
#include "formats/json_writing.h"
#include "formats/sensor_snapshot_fields.h"

namespace brivane {

bool encode(const SensorSnapshot& snapshot, std::string& out) {
    return encodeDocument(snapshot, out);
}

std::string encode(const SensorSnapshot& snapshot) {
    return encodeDocument(snapshot);
}

std::optional<SensorSnapshot> decodeSensorSnapshot(std::string_view json) {
    return decodeDocument<SensorSnapshot>(json);
}

} // namespace brivane
