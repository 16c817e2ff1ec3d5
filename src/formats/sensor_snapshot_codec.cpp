#include "formats/document_codec.h"
#include "formats/json_reading.h"
#include "formats/json_writing.h"

namespace brivane {

static void writeJson(JsonWriter& writer, const SensorSnapshot::Reading& reading) {
    writer.beginObject();
    writer.key("key");
    writer.string(reading.key);
    writer.key("value");
    writer.number(reading.value);
    writer.endObject();
}

static void writeJson(JsonWriter& writer, const SensorSnapshot::FanReading& fan) {
    writer.beginObject();
    writer.key("id");
    writer.integer(fan.id);
    if (fan.name) {
        writer.key("name");
        writer.string(*fan.name);
    }
    writer.key("rpm");
    writer.number(fan.rpm);
    if (fan.maximumRPM) {
        writer.key("maximumRPM");
        writer.number(*fan.maximumRPM);
    }
    writer.endObject();
}

static void writeJson(JsonWriter& writer, const SensorSnapshot::GraphicsReading& graphics) {
    writer.beginObject();
    writer.key("utilization");
    writer.number(graphics.utilization);
    if (graphics.renderer) {
        writer.key("renderer");
        writer.number(*graphics.renderer);
    }
    if (graphics.tiler) {
        writer.key("tiler");
        writer.number(*graphics.tiler);
    }
    writer.endObject();
}

static void writeJson(JsonWriter& writer, const SensorSnapshot::AccessoryReading& accessory) {
    writer.beginObject();
    writer.key("name");
    writer.string(accessory.name);
    if (accessory.part) {
        writer.key("part");
        writer.string(*accessory.part);
    }
    writer.key("level");
    writer.number(accessory.level);
    writer.endObject();
}

static void writeJson(JsonWriter& writer, const SensorSnapshot::BatteryReading& battery) {
    const auto number = [&](const char* key, const std::optional<double>& value) {
        if (value) {
            writer.key(key);
            writer.number(*value);
        }
    };
    writer.beginObject();
    writer.key("level");
    writer.number(battery.level);
    if (battery.state) {
        writer.key("state");
        writer.string(*battery.state);
    }
    number("power", battery.power);
    number("timeToEmpty", battery.timeToEmpty);
    number("timeToFull", battery.timeToFull);
    number("health", battery.health);
    if (battery.cycleCount) {
        writer.key("cycleCount");
        writer.integer(*battery.cycleCount);
    }
    writer.endObject();
}

static void writeFlag(JsonWriter& writer, const char* key, const std::optional<bool>& flag) {
    if (flag) {
        writer.key(key);
        writer.boolean(*flag);
    }
}

static void writeJson(JsonWriter& writer, const SensorSnapshot& snapshot) {
    writer.beginObject();
    writer.key("version");
    writer.integer(snapshot.version);
    writer.key("temperatures");
    writeJson(writer, snapshot.temperatures);
    writer.key("fans");
    writeJson(writer, snapshot.fans);
    writer.key("helperUID");
    writer.unsignedInteger(snapshot.helperUID);
    writer.key("helperEffectiveUID");
    writer.unsignedInteger(snapshot.helperEffectiveUID);
    if (snapshot.power) {
        writer.key("power");
        writeJson(writer, *snapshot.power);
    }
    if (snapshot.graphics) {
        writer.key("graphics");
        writeJson(writer, *snapshot.graphics);
    }
    if (snapshot.accessories) {
        writer.key("accessories");
        writeJson(writer, *snapshot.accessories);
    }
    writeFlag(writer, "supportsProcessDetails", snapshot.supportsProcessDetails);
    writeFlag(writer, "supportsStorageHealth", snapshot.supportsStorageHealth);
    writeFlag(writer, "supportsManagement", snapshot.supportsManagement);
    if (snapshot.companionVersion) {
        writer.key("companionVersion");
        writer.string(*snapshot.companionVersion);
    }
    if (snapshot.battery) {
        writer.key("battery");
        writeJson(writer, *snapshot.battery);
    }
    if (snapshot.energy) {
        writer.key("energy");
        writeJson(writer, *snapshot.energy);
    }
    writer.endObject();
}

static bool readJson(const Json& value, SensorSnapshot::Reading& reading) {
    return JsonObjectReader(value)
        .required("key", reading.key)
        .required("value", reading.value)
        .ok();
}

static bool readJson(const Json& value, SensorSnapshot::FanReading& fan) {
    return JsonObjectReader(value)
        .required("id", fan.id)
        .optional("name", fan.name)
        .required("rpm", fan.rpm)
        .optional("maximumRPM", fan.maximumRPM)
        .ok();
}

static bool readJson(const Json& value, SensorSnapshot::GraphicsReading& graphics) {
    return JsonObjectReader(value)
        .required("utilization", graphics.utilization)
        .optional("renderer", graphics.renderer)
        .optional("tiler", graphics.tiler)
        .ok();
}

static bool readJson(const Json& value, SensorSnapshot::AccessoryReading& accessory) {
    return JsonObjectReader(value)
        .required("name", accessory.name)
        .optional("part", accessory.part)
        .required("level", accessory.level)
        .ok();
}

static bool readJson(const Json& value, SensorSnapshot::BatteryReading& battery) {
    return JsonObjectReader(value)
        .required("level", battery.level)
        .optional("state", battery.state)
        .optional("power", battery.power)
        .optional("timeToEmpty", battery.timeToEmpty)
        .optional("timeToFull", battery.timeToFull)
        .optional("health", battery.health)
        .optional("cycleCount", battery.cycleCount)
        .ok();
}

static bool readJson(const Json& value, SensorSnapshot& snapshot) {
    return JsonObjectReader(value)
        .required("version", snapshot.version)
        .required("temperatures", snapshot.temperatures)
        .required("fans", snapshot.fans)
        .required("helperUID", snapshot.helperUID)
        .required("helperEffectiveUID", snapshot.helperEffectiveUID)
        .optional("power", snapshot.power)
        .optional("graphics", snapshot.graphics)
        .optional("accessories", snapshot.accessories)
        .optional("supportsProcessDetails", snapshot.supportsProcessDetails)
        .optional("supportsStorageHealth", snapshot.supportsStorageHealth)
        .optional("supportsManagement", snapshot.supportsManagement)
        .optional("companionVersion", snapshot.companionVersion)
        .optional("battery", snapshot.battery)
        .optional("energy", snapshot.energy)
        .ok();
}

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
