#pragma once

// The packed forms of the history's rows. A row holds one snapshot (or one minute or hour of
// them) for the series of a layout: the layout lists their ids once, and each row only their
// values, as 32-bit floats in little-endian order, so that 150 series cost 600 bytes a sample.
// Decoders take any bytes (a damaged or foreign file) and refuse what does not fit.

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace brivane::cli {

// A layout: series ids in ascending order, as varint deltas.
std::string encodeLayout(std::span<const std::int64_t> ids);
std::optional<std::vector<std::int64_t>> decodeLayout(std::string_view bytes);

// One snapshot's values for a layout of `count` series: a bit per series (set: a value
// follows), then the values present. An absent value is a gap.
std::string encodeSample(std::span<const std::optional<float>> values);
std::optional<std::vector<std::optional<float>>> decodeSample(std::string_view bytes,
                                                              std::size_t count);

// A series over a minute or an hour.
struct Aggregate {
    float minimum = 0, average = 0, maximum = 0;
    bool operator==(const Aggregate&) const = default;
};

// Two bits per series (0 gap, 1 one value, for a series that did not move, 2 minimum, average
// and maximum), then the values.
std::string encodeAggregates(std::span<const std::optional<Aggregate>> values);
std::optional<std::vector<std::optional<Aggregate>>> decodeAggregates(std::string_view bytes,
                                                                      std::size_t count);

// What a series carries besides its value, stored only when it changes: its limits, alarm flags
// and fault (in the order of platform::SensorLimit and platform::SensorAlarm) and a text (the
// battery's state).
struct SeriesMarks {
    std::array<std::optional<float>, 7> limits{};
    std::array<std::optional<bool>, 7> alarms{};
    std::optional<bool> fault{};
    std::optional<std::string> text{};

    bool operator==(const SeriesMarks&) const = default;
    bool empty() const { return *this == SeriesMarks{}; }
};

// The limits as a bit mask and the limits present; the flags two bits each (0 absent, 1 false,
// 2 true), the alarms first, the fault last.
std::string encodeLimits(const SeriesMarks& marks);
std::int64_t encodeFlags(const SeriesMarks& marks);
// Fills marks from the stored forms; false when they do not fit.
bool decodeMarks(std::string_view limits, std::int64_t flags, SeriesMarks& marks);

} // namespace brivane::cli
