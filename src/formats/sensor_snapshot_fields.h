#pragma once

// The snapshot's records' lists of JSON members, read by its encoder and decoder and by whoever
// must know every member of the document (the clients' walk over it and its coverage test).

#include "formats/document_fields.h"
#include "formats/sensor_snapshot.h"

namespace brivane {

template <> struct Fields<SensorSnapshot::Reading> {
    using R = SensorSnapshot::Reading;
    static constexpr auto list = std::tuple{field("key", &R::key), field("value", &R::value)};
};

template <> struct Fields<SensorSnapshot::FanReading> {
    using R = SensorSnapshot::FanReading;
    static constexpr auto list =
        std::tuple{field("id", &R::id), field("name", &R::name), field("rpm", &R::rpm),
                   field("maximumRPM", &R::maximumRPM), field("minimumRPM", &R::minimumRPM)};
};

template <> struct Fields<SensorSnapshot::GraphicsReading> {
    using R = SensorSnapshot::GraphicsReading;
    static constexpr auto list =
        std::tuple{field("utilization", &R::utilization), field("renderer", &R::renderer),
                   field("tiler", &R::tiler)};
};

template <> struct Fields<SensorSnapshot::AccessoryReading> {
    using R = SensorSnapshot::AccessoryReading;
    static constexpr auto list =
        std::tuple{field("name", &R::name), field("part", &R::part), field("level", &R::level)};
};

template <> struct Fields<SensorSnapshot::BatteryReading> {
    using R = SensorSnapshot::BatteryReading;
    static constexpr auto list =
        std::tuple{field("level", &R::level),           field("state", &R::state),
                   field("power", &R::power),           field("timeToEmpty", &R::timeToEmpty),
                   field("timeToFull", &R::timeToFull), field("health", &R::health),
                   field("cycleCount", &R::cycleCount)};
};

template <> struct Fields<SensorSnapshot::SourceState> {
    using R = SensorSnapshot::SourceState;
    static constexpr auto list = std::tuple{field("name", &R::name), field("up", &R::up)};
};

template <> struct Fields<SensorSnapshot::RetiredFiles> {
    using R = SensorSnapshot::RetiredFiles;
    static constexpr auto list = std::tuple{field("name", &R::name), field("files", &R::files)};
};

template <> struct Fields<SensorSnapshot::SensorAlarms> {
    using R = SensorSnapshot::SensorAlarms;
    static constexpr auto list = std::tuple{
        field("alarm", &R::alarm), field("min", &R::min),   field("max", &R::max),
        field("lcrit", &R::lcrit), field("crit", &R::crit), field("emergency", &R::emergency),
        field("cap", &R::cap)};
};

template <> struct Fields<SensorSnapshot::SensorDetail> {
    using R = SensorSnapshot::SensorDetail;
    static constexpr auto list = std::tuple{
        field("key", &R::key),       field("type", &R::type), field("unit", &R::unit),
        field("value", &R::value),   field("min", &R::min),   field("max", &R::max),
        field("lcrit", &R::lcrit),   field("crit", &R::crit), field("emergency", &R::emergency),
        field("target", &R::target), field("cap", &R::cap),   field("alarms", &R::alarms),
        field("fault", &R::fault)};
};

template <> struct Fields<SensorSnapshot::GpuReading> {
    using R = SensorSnapshot::GpuReading;
    static constexpr auto list = std::tuple{field("card", &R::card),
                                            field("pciAddress", &R::pciAddress),
                                            field("driver", &R::driver),
                                            field("asleep", &R::asleep),
                                            field("utilization", &R::utilization),
                                            field("memoryUsed", &R::memoryUsed),
                                            field("memoryTotal", &R::memoryTotal),
                                            field("power", &R::power),
                                            field("temperature", &R::temperature)};
};

template <> struct Fields<SensorSnapshot> {
    using R = SensorSnapshot;
    static constexpr auto list =
        std::tuple{field("version", &R::version),
                   field("temperatures", &R::temperatures),
                   field("fans", &R::fans),
                   field("helperUID", &R::helperUID),
                   field("helperEffectiveUID", &R::helperEffectiveUID),
                   field("power", &R::power),
                   field("graphics", &R::graphics),
                   field("accessories", &R::accessories),
                   field("supportsProcessDetails", &R::supportsProcessDetails),
                   field("supportsStorageHealth", &R::supportsStorageHealth),
                   field("supportsManagement", &R::supportsManagement),
                   field("companionVersion", &R::companionVersion),
                   field("battery", &R::battery),
                   field("energy", &R::energy),
                   field("sources", &R::sources),
                   field("retiredFiles", &R::retiredFiles),
                   field("sensors", &R::sensors),
                   field("gpus", &R::gpus)};
};

} // namespace brivane
