#include "formats/document_codec.h"
#include "formats/json_reading.h"
#include "formats/json_writing.h"

namespace brivane {

template <> struct Fields<CPUDetailsSnapshot::ProcessReading> {
    using R = CPUDetailsSnapshot::ProcessReading;
    static constexpr auto list =
        std::tuple{field("pid", &R::pid), field("name", &R::name), field("usage", &R::usage)};
};

template <> struct Fields<ProcessDetailsSnapshot::StorageReading> {
    using R = ProcessDetailsSnapshot::StorageReading;
    static constexpr auto list = std::tuple{field("pid", &R::pid), field("name", &R::name),
                                            field("readBytesPerSecond", &R::readBytesPerSecond),
                                            field("writeBytesPerSecond", &R::writeBytesPerSecond)};
};

template <> struct Fields<ProcessDetailsSnapshot::GpuReading::Card> {
    using R = ProcessDetailsSnapshot::GpuReading::Card;
    static constexpr auto list = std::tuple{
        field("card", &R::card), field("pciAddress", &R::pciAddress),
        field("enginePercent", &R::enginePercent), field("memoryBytes", &R::memoryBytes)};
};

template <> struct Fields<ProcessDetailsSnapshot::GpuReading> {
    using R = ProcessDetailsSnapshot::GpuReading;
    static constexpr auto list = std::tuple{
        field("pid", &R::pid), field("name", &R::name), field("busyPercent", &R::busyPercent),
        field("memoryBytes", &R::memoryBytes), field("cards", &R::cards)};
};

template <> struct Fields<CPUDetailsSnapshot::IdleState> {
    using R = CPUDetailsSnapshot::IdleState;
    static constexpr auto list = std::tuple{field("name", &R::name), field("seconds", &R::seconds)};
};

template <> struct Fields<CPUDetailsSnapshot::ThrottleCount> {
    using R = CPUDetailsSnapshot::ThrottleCount;
    static constexpr auto list =
        std::tuple{field("events", &R::events), field("seconds", &R::seconds)};
};

template <> struct Fields<CPUDetailsSnapshot::Throttling> {
    using R = CPUDetailsSnapshot::Throttling;
    static constexpr auto list =
        std::tuple{field("cores", &R::cores), field("packages", &R::packages)};
};

template <> struct Fields<CPUDetailsSnapshot> {
    using R = CPUDetailsSnapshot;
    static constexpr auto list = std::tuple{
        field("processes", &R::processes),   field("residencies", &R::residencies),
        field("helperUID", &R::helperUID),   field("helperEffectiveUID", &R::helperEffectiveUID),
        field("idleStates", &R::idleStates), field("throttling", &R::throttling)};
};

template <> struct Fields<ProcessDetailsSnapshot> {
    using R = ProcessDetailsSnapshot;
    static constexpr auto list = std::tuple{field("ranked", &R::ranked),
                                            field("storage", &R::storage),
                                            field("helperUID", &R::helperUID),
                                            field("helperEffectiveUID", &R::helperEffectiveUID),
                                            field("storageInterval", &R::storageInterval),
                                            field("gpu", &R::gpu),
                                            field("gpuInterval", &R::gpuInterval)};
};

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
