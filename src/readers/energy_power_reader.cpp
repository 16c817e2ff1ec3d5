#include "readers/energy_power_reader.h"

#include "platform/snapshot_keys.h"
#include "readers/ioreport_group_subscription.h"

#include <string_view>

namespace brivane {

namespace {

struct Field {
    std::string_view channelName;
    std::string_view outputKey;
    std::string_view totalKey;
};

constexpr std::array<Field, 2> fields{{
    {"CPU Energy", platform::snapshot_key::cpuModelPower, platform::snapshot_key::cpuEnergy},
    {"GPU Energy", platform::snapshot_key::gpuModelPower, platform::snapshot_key::gpuEnergy},
}};

struct UnitScale {
    std::string_view label;
    double joulesPerCount;
};

constexpr std::array<UnitScale, 5> unitScales{{
    {"J", 1.0},
    {"mJ", 0.001},
    {"uJ", 0.000001},
    {"\xC2\xB5J", 0.000001},
    {"nJ", 0.000000001},
}};

std::optional<std::size_t> fieldIndex(std::string_view channelName) {
    for (std::size_t i = 0; i < fields.size(); ++i)
        if (fields[i].channelName == channelName)
            return i;
    return std::nullopt;
}

// A platform's own energy source, "<chip>/<label>", reported under that name: the fixed
// channel names of the energy group hold no slash.
bool isSourceName(std::string_view name) {
    const std::size_t slash = name.find('/');
    return slash != std::string_view::npos && slash > 0 && slash + 1 < name.size();
}

std::optional<double> joulesPerCount(std::string_view label) {
    for (const auto& scale : unitScales)
        if (scale.label == label)
            return scale.joulesPerCount;
    return std::nullopt;
}

} // namespace

EnergyPowerReader::EnergyPowerReader()
    : EnergyPowerReader(platform::makeDefaultIOReportSource(), platform::makeDefaultUptimeClock()) {
}

EnergyPowerReader::EnergyPowerReader(std::shared_ptr<platform::IOReportSource> source,
                                     std::shared_ptr<const platform::UptimeClock> clock)
    : source_(std::move(source)), clock_(std::move(clock)) {}

std::vector<SensorSnapshot::Reading> EnergyPowerReader::read() {
    try {
        return readUnguarded();
    } catch (...) {
        // A snapshot without energy readings beats no snapshot.
        return {};
    }
}

void EnergyPowerReader::setUp() {
    initialized_ = true;
    if (!source_)
        return;
    if (auto subscribed = subscribeToGroup(*source_, "Energy Model", std::nullopt)) {
        subscription_ = std::move(subscribed->subscription);
        channels_ = std::move(subscribed->channels);
    }
}

std::vector<SensorSnapshot::Reading> EnergyPowerReader::readUnguarded() {
    if (!initialized_)
        setUp();
    if (!subscription_ || !channels_) {
        previous_.reset();
        return {};
    }
    auto sample = source_->createSamples(*subscription_, *channels_);
    if (!sample) {
        previous_.reset();
        return {};
    }
    const double now = clock_->uptime();
    if (!previous_) {
        previous_ = PreviousSample{std::move(*sample), now};
        return {};
    }

    std::vector<SensorSnapshot::Reading> readings;
    const double elapsed = now - previous_->uptime;
    // Every interval counts towards the totals, also those too short or too long to average.
    const auto delta = source_->createSamplesDelta(previous_->sample, *sample);
    if (delta && delta->channels) {
        addToTotals(*delta->channels);
        if (!(elapsed < minimumInterval || elapsed > maximumInterval))
            appendReadings(*delta->channels, elapsed, readings);
    }
    previous_->sample = std::move(*sample);
    previous_->uptime = now;
    return readings;
}

std::vector<SensorSnapshot::Reading> EnergyPowerReader::totals() const {
    std::vector<SensorSnapshot::Reading> readings;
    for (std::size_t i = 0; i < fields.size(); ++i)
        if (totals_[i] > 0)
            readings.push_back({std::string(fields[i].totalKey), totals_[i]});
    return readings;
}

void EnergyPowerReader::addToTotals(const platform::IOReportChannelList& changes) {
    for (const auto& channel : changes) {
        const auto name = channel.channelName();
        const auto field = name ? fieldIndex(*name) : std::nullopt;
        const auto label = channel.unitLabel();
        const auto scale = label ? joulesPerCount(*label) : std::nullopt;
        const std::int64_t count = channel.simpleIntegerValue();
        // A negative move is a counter the source could not unwrap: it adds nothing.
        if (field && scale && count > 0)
            totals_[*field] += *scale * static_cast<double>(count);
    }
}

void EnergyPowerReader::appendReadings(const platform::IOReportChannelList& changes, double elapsed,
                                       std::vector<SensorSnapshot::Reading>& readings) {
    for (const auto& channel : changes) {
        const auto name = channel.channelName();
        if (!name)
            continue;
        const auto field = fieldIndex(*name);
        const bool ownName = !field && isSourceName(*name);
        if (!field && !ownName)
            continue;
        const auto label = channel.unitLabel();
        if (!label)
            continue;
        const auto scale = joulesPerCount(*label);
        if (!scale)
            continue;
        const std::int64_t count = channel.simpleIntegerValue();
        const double watts = *scale * static_cast<double>(count) / elapsed;
        if (!(watts >= 0.0 && watts <= maximumPower))
            continue;
        if (ownName) {
            readings.push_back({std::string(*name), watts});
            continue;
        }
        if (count > 0)
            activeChannels_[*field] = true;
        if (activeChannels_[*field])
            readings.push_back({std::string(fields[*field].outputKey), watts});
    }
}

} // namespace brivane
