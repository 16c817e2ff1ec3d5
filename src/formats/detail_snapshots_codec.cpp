#include "formats/document_codec.h"
#include "formats/json_reading.h"
#include "formats/json_writing.h"

namespace brivane {

using ProcessReading = CPUDetailsSnapshot::ProcessReading;
using StorageReading = ProcessDetailsSnapshot::StorageReading;
using Residencies = decltype(CPUDetailsSnapshot::residencies);

static void writeIdentity(JsonWriter& writer, std::uint32_t uid, std::uint32_t effectiveUID) {
    writer.key("helperUID");
    writer.unsignedInteger(uid);
    writer.key("helperEffectiveUID");
    writer.unsignedInteger(effectiveUID);
}

static void writeJson(JsonWriter& writer, const ProcessReading& process) {
    writer.beginObject();
    writer.key("pid");
    writer.integer(process.pid);
    writer.key("name");
    writer.string(process.name);
    writer.key("usage");
    writer.number(process.usage);
    writer.endObject();
}

static void writeJson(JsonWriter& writer, const StorageReading& storage) {
    writer.beginObject();
    writer.key("pid");
    writer.integer(storage.pid);
    writer.key("name");
    writer.string(storage.name);
    writer.key("readBytesPerSecond");
    writer.integer(storage.readBytesPerSecond);
    writer.key("writeBytesPerSecond");
    writer.integer(storage.writeBytesPerSecond);
    writer.endObject();
}

static void writeJson(JsonWriter& writer, const Residencies& residencies) {
    writer.beginObject();
    for (const auto& [cluster, states] : residencies) {
        writer.key(cluster);
        writeJson(writer, states);
    }
    writer.endObject();
}

static void writeJson(JsonWriter& writer, const CPUDetailsSnapshot& snapshot) {
    writer.beginObject();
    writer.key("processes");
    writeJson(writer, snapshot.processes);
    writer.key("residencies");
    writeJson(writer, snapshot.residencies);
    writeIdentity(writer, snapshot.helperUID, snapshot.helperEffectiveUID);
    writer.endObject();
}

static void writeJson(JsonWriter& writer, const ProcessDetailsSnapshot& snapshot) {
    writer.beginObject();
    writer.key("ranked");
    writeJson(writer, snapshot.ranked);
    writer.key("storage");
    writeJson(writer, snapshot.storage);
    writeIdentity(writer, snapshot.helperUID, snapshot.helperEffectiveUID);
    writer.endObject();
}

static bool readJson(const Json& value, ProcessReading& process) {
    return JsonObjectReader(value)
        .required("pid", process.pid)
        .required("name", process.name)
        .required("usage", process.usage)
        .ok();
}

static bool readJson(const Json& value, StorageReading& storage) {
    return JsonObjectReader(value)
        .required("pid", storage.pid)
        .required("name", storage.name)
        .required("readBytesPerSecond", storage.readBytesPerSecond)
        .required("writeBytesPerSecond", storage.writeBytesPerSecond)
        .ok();
}

static bool readJson(const Json& value, CPUDetailsSnapshot& snapshot) {
    return JsonObjectReader(value)
        .required("processes", snapshot.processes)
        .required("residencies", snapshot.residencies)
        .required("helperUID", snapshot.helperUID)
        .required("helperEffectiveUID", snapshot.helperEffectiveUID)
        .ok();
}

static bool readJson(const Json& value, ProcessDetailsSnapshot& snapshot) {
    return JsonObjectReader(value)
        .required("ranked", snapshot.ranked)
        .required("storage", snapshot.storage)
        .required("helperUID", snapshot.helperUID)
        .required("helperEffectiveUID", snapshot.helperEffectiveUID)
        .ok();
}

bool encode(const CPUDetailsSnapshot& snapshot, std::string& out) {
    return encodeDocument(snapshot, out);
}
bool encode(const ProcessDetailsSnapshot& snapshot, std::string& out) {
    return encodeDocument(snapshot, out);
}
std::string encode(const CPUDetailsSnapshot& snapshot) {
    return encodeDocument(snapshot);
}
std::string encode(const ProcessDetailsSnapshot& snapshot) {
    return encodeDocument(snapshot);
}

std::optional<CPUDetailsSnapshot> decodeCPUDetailsSnapshot(std::string_view json) {
    return decodeDocument<CPUDetailsSnapshot>(json);
}
std::optional<ProcessDetailsSnapshot> decodeProcessDetailsSnapshot(std::string_view json) {
    return decodeDocument<ProcessDetailsSnapshot>(json);
}

} // namespace brivane
