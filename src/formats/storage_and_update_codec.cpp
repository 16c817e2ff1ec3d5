#include "formats/document_codec.h"
#include "formats/json_reading.h"
#include "formats/json_writing.h"

namespace brivane {

using State = SensorCompanionUpdate::State;

static void writeCount(JsonWriter& writer, const char* key,
                       const std::optional<std::int64_t>& count) {
    if (count) {
        writer.key(key);
        writer.integer(*count);
    }
}

static void writeJson(JsonWriter& writer, const StorageHealthReading& reading) {
    writer.beginObject();
    writeCount(writer, "temperature", reading.temperature);
    writeCount(writer, "life", reading.life);
    writeCount(writer, "totalRead", reading.totalRead);
    writeCount(writer, "totalWritten", reading.totalWritten);
    writeCount(writer, "powerCycles", reading.powerCycles);
    writeCount(writer, "powerOnHours", reading.powerOnHours);
    writeCount(writer, "availableSpare", reading.availableSpare);
    writeCount(writer, "spareThreshold", reading.spareThreshold);
    writeCount(writer, "unsafeShutdowns", reading.unsafeShutdowns);
    writeCount(writer, "mediaErrors", reading.mediaErrors);
    writer.endObject();
}

static void writeJson(JsonWriter& writer, const StorageHealthSnapshot& snapshot) {
    writer.beginObject();
    if (snapshot.reading) {
        writer.key("reading");
        writeJson(writer, *snapshot.reading);
    }
    writer.key("helperUID");
    writer.unsignedInteger(snapshot.helperUID);
    writer.key("helperEffectiveUID");
    writer.unsignedInteger(snapshot.helperEffectiveUID);
    writer.endObject();
}

static void writeJson(JsonWriter& writer, const SensorCompanionUpdate& update) {
    writer.beginObject();
    writer.key("state");
    writer.string(rawValue(update.state));
    if (update.version) {
        writer.key("version");
        writer.string(*update.version);
    }
    if (update.message) {
        writer.key("message");
        writer.string(*update.message);
    }
    writer.endObject();
}

static bool readJson(const Json& value, StorageHealthReading& reading) {
    return JsonObjectReader(value)
        .optional("temperature", reading.temperature)
        .optional("life", reading.life)
        .optional("totalRead", reading.totalRead)
        .optional("totalWritten", reading.totalWritten)
        .optional("powerCycles", reading.powerCycles)
        .optional("powerOnHours", reading.powerOnHours)
        .optional("availableSpare", reading.availableSpare)
        .optional("spareThreshold", reading.spareThreshold)
        .optional("unsafeShutdowns", reading.unsafeShutdowns)
        .optional("mediaErrors", reading.mediaErrors)
        .ok();
}

static bool readJson(const Json& value, StorageHealthSnapshot& snapshot) {
    return JsonObjectReader(value)
        .optional("reading", snapshot.reading)
        .required("helperUID", snapshot.helperUID)
        .required("helperEffectiveUID", snapshot.helperEffectiveUID)
        .ok();
}

static bool readJson(const Json& value, State& state) {
    if (!value.is_string()) {
        return false;
    }
    const auto decoded = sensorCompanionUpdateState(value.get_ref<const std::string&>());
    if (!decoded) {
        return false;
    }
    state = *decoded;
    return true;
}

static bool readJson(const Json& value, SensorCompanionUpdate& update) {
    return JsonObjectReader(value)
        .required("state", update.state)
        .optional("version", update.version)
        .optional("message", update.message)
        .ok();
}

bool encode(const StorageHealthSnapshot& snapshot, std::string& out) {
    return encodeDocument(snapshot, out);
}
bool encode(const SensorCompanionUpdate& update, std::string& out) {
    return encodeDocument(update, out);
}
std::string encode(const StorageHealthSnapshot& snapshot) {
    return encodeDocument(snapshot);
}
std::string encode(const SensorCompanionUpdate& update) {
    return encodeDocument(update);
}

std::optional<StorageHealthSnapshot> decodeStorageHealthSnapshot(std::string_view json) {
    return decodeDocument<StorageHealthSnapshot>(json);
}
std::optional<SensorCompanionUpdate> decodeSensorCompanionUpdate(std::string_view json) {
    return decodeDocument<SensorCompanionUpdate>(json);
}

} // namespace brivane
