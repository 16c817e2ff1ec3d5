#include "formats/document_codec.h"
#include "formats/json_reading.h"
#include "formats/json_writing.h"

namespace brivane {

template <> struct Fields<StorageHealthReading> {
    using R = StorageHealthReading;
    static constexpr auto list = std::tuple{field("temperature", &R::temperature),
                                            field("life", &R::life),
                                            field("totalRead", &R::totalRead),
                                            field("totalWritten", &R::totalWritten),
                                            field("powerCycles", &R::powerCycles),
                                            field("powerOnHours", &R::powerOnHours),
                                            field("availableSpare", &R::availableSpare),
                                            field("spareThreshold", &R::spareThreshold),
                                            field("unsafeShutdowns", &R::unsafeShutdowns),
                                            field("mediaErrors", &R::mediaErrors),
                                            field("criticalWarning", &R::criticalWarning),
                                            field("smartFailing", &R::smartFailing),
                                            field("reallocatedSectors", &R::reallocatedSectors),
                                            field("pendingSectors", &R::pendingSectors),
                                            field("uncorrectableSectors", &R::uncorrectableSectors),
                                            field("maxTemperature", &R::maxTemperature),
                                            field("criticalTemperature", &R::criticalTemperature),
                                            field("updated", &R::updated),
                                            field("device", &R::device),
                                            field("model", &R::model),
                                            field("serial", &R::serial)};
};

template <> struct Fields<StorageHealthSnapshot> {
    using R = StorageHealthSnapshot;
    static constexpr auto list =
        std::tuple{field("reading", &R::reading), field("helperUID", &R::helperUID),
                   field("helperEffectiveUID", &R::helperEffectiveUID)};
};

template <> struct Fields<SensorCompanionUpdate> {
    using R = SensorCompanionUpdate;
    static constexpr auto list = std::tuple{
        field("state", &R::state), field("version", &R::version), field("message", &R::message)};
};

// The state travels as its raw value; an unknown one rejects the document.
static bool readJson(JsonCursor& in, SensorCompanionUpdate::State& state) {
    std::string raw;
    if (!readJson(in, raw)) {
        return false;
    }
    const auto decoded = sensorCompanionUpdateState(raw);
    if (!decoded) {
        return false;
    }
    state = *decoded;
    return true;
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
