// Encoding the per-second snapshot with our writer against building and dumping an ordered
// nlohmann document of the same content, and decoding that snapshot.
#include "formats/document_codec.h"

#include <benchmark/benchmark.h>
#include <nlohmann/json.hpp>
#include <string>

namespace {

using brivane::SensorSnapshot;

SensorSnapshot realisticSnapshot() {
    SensorSnapshot snapshot{SensorSnapshot::schemaVersion, {}, {}, 501, 501};
    for (int index = 0; index < 60; ++index) {
        const char key[] = {'T', static_cast<char>('a' + index % 26),
                            static_cast<char>('0' + index / 26), 'P', '\0'};
        snapshot.temperatures.push_back({key, 35.0 + index * 0.37});
    }
    snapshot.fans = {{0, "Left side", 1834.25, 5779.0}, {1, "Right side", 1901.5, 6241.0}};
    snapshot.power = std::vector<SensorSnapshot::Reading>{
        {"PSTR", 14.8125},      {"PCPC", 3.25},           {"PG0R", 0.75},
        {"PMTR", 1.5},          {"PPBR", 16.0},           {"CPUModelPower", 2.71},
        {"GPUModelPower", 0.4}, {"BatteryVoltage", 12.93}};
    snapshot.graphics = SensorSnapshot::GraphicsReading{0.23, 0.19, 0.05};
    snapshot.accessories = std::vector<SensorSnapshot::AccessoryReading>{
        {"Magic Keyboard", std::nullopt, 0.82}, {"Buds", "left", 0.6}, {"Buds", "right", 0.55}};
    snapshot.supportsProcessDetails = true;
    snapshot.supportsStorageHealth = true;
    snapshot.supportsManagement = true;
    snapshot.companionVersion = "1.0.0";
    return snapshot;
}

nlohmann::ordered_json toOrderedJson(const SensorSnapshot& snapshot) {
    using Json = nlohmann::ordered_json;
    const auto readings = [](const std::vector<SensorSnapshot::Reading>& list) {
        Json array = Json::array();
        for (const auto& reading : list) {
            array.push_back(Json{{"key", reading.key}, {"value", reading.value}});
        }
        return array;
    };
    Json document;
    document["version"] = snapshot.version;
    document["temperatures"] = readings(snapshot.temperatures);
    Json fans = Json::array();
    for (const auto& fan : snapshot.fans) {
        Json entry{{"id", fan.id}};
        if (fan.name) {
            entry["name"] = *fan.name;
        }
        entry["rpm"] = fan.rpm;
        if (fan.maximumRPM) {
            entry["maximumRPM"] = *fan.maximumRPM;
        }
        fans.push_back(std::move(entry));
    }
    document["fans"] = std::move(fans);
    document["helperUID"] = snapshot.helperUID;
    document["helperEffectiveUID"] = snapshot.helperEffectiveUID;
    document["power"] = readings(*snapshot.power);
    Json graphics{{"utilization", snapshot.graphics->utilization}};
    graphics["renderer"] = *snapshot.graphics->renderer;
    graphics["tiler"] = *snapshot.graphics->tiler;
    document["graphics"] = std::move(graphics);
    Json accessories = Json::array();
    for (const auto& accessory : *snapshot.accessories) {
        Json entry{{"name", accessory.name}};
        if (accessory.part) {
            entry["part"] = *accessory.part;
        }
        entry["level"] = accessory.level;
        accessories.push_back(std::move(entry));
    }
    document["accessories"] = std::move(accessories);
    document["supportsProcessDetails"] = *snapshot.supportsProcessDetails;
    document["supportsStorageHealth"] = *snapshot.supportsStorageHealth;
    document["supportsManagement"] = *snapshot.supportsManagement;
    document["companionVersion"] = *snapshot.companionVersion;
    return document;
}

void BM_EncodeSnapshotWithWriter(benchmark::State& state) {
    const SensorSnapshot snapshot = realisticSnapshot();
    std::string buffer;
    for (auto _ : state) {
        benchmark::DoNotOptimize(brivane::encode(snapshot, buffer));
        benchmark::DoNotOptimize(buffer.data());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * buffer.size()));
}
BENCHMARK(BM_EncodeSnapshotWithWriter);

void BM_EncodeSnapshotWithFreshString(benchmark::State& state) {
    const SensorSnapshot snapshot = realisticSnapshot();
    for (auto _ : state) {
        std::string json = brivane::encode(snapshot);
        benchmark::DoNotOptimize(json.data());
    }
}
BENCHMARK(BM_EncodeSnapshotWithFreshString);

void BM_EncodeSnapshotWithOrderedJson(benchmark::State& state) {
    const SensorSnapshot snapshot = realisticSnapshot();
    for (auto _ : state) {
        std::string json = toOrderedJson(snapshot).dump();
        benchmark::DoNotOptimize(json.data());
    }
}
BENCHMARK(BM_EncodeSnapshotWithOrderedJson);

void BM_DecodeSnapshot(benchmark::State& state) {
    const std::string json = brivane::encode(realisticSnapshot());
    for (auto _ : state) {
        auto decoded = brivane::decodeSensorSnapshot(json);
        benchmark::DoNotOptimize(decoded);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * json.size()));
}
BENCHMARK(BM_DecodeSnapshot);

} // namespace
