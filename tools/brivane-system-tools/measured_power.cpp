#include "measured_power.h"

#include "platform/linux/power_supply.h"

#include <cmath>
#include <ctime>

namespace brivane::system_tools {

namespace {

double monotonicSeconds() {
    timespec now{};
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

} // namespace

std::optional<double> batteryDischargeWatts(const platform::host::RootedDirectory& sys) {
    for (const std::string& entry : sys.list("class/power_supply")) {
        const std::string base = "class/power_supply/" + entry;
        if (!platform::linux_backend::isSystemBattery(sys, base) ||
            platform::linux_backend::supplyAttribute(sys, base, "status") != "Discharging")
            continue;
        auto number = [&](const char* leaf) {
            return sys.readInteger((base + "/" + leaf).c_str()).value;
        };
        if (auto power = number("power_now"); power && *power != 0)
            return std::abs(static_cast<double>(*power)) / 1e6;
        auto current = number("current_now");
        auto voltage = number("voltage_now");
        if (current && voltage)
            return std::abs(static_cast<double>(*current) * static_cast<double>(*voltage)) / 1e12;
    }
    return std::nullopt;
}

MeasuredPower::MeasuredPower(const std::string& sysRoot) : sys_(sysRoot), source_(sysRoot) {}

MeasuredPower::~MeasuredPower() = default;

void MeasuredPower::start() {
    if (!setUp_) {
        setUp_ = true;
        if (auto group = source_.copyChannelsInGroup("Energy Model", std::nullopt)) {
            for (const platform::IOReportChannel& channel : *group) {
                if (channel.name == "CPU Energy")
                    channels_.push_back(channel);
            }
            subscription_ = source_.createSubscription(channels_).subscription;
        }
    }
    startedAt_ = monotonicSeconds();
    if (subscription_)
        first_ = source_.createSamples(*subscription_, channels_);
}

std::optional<double> MeasuredPower::watts() {
    const double elapsed = monotonicSeconds() - startedAt_;
    if (subscription_ && first_ && elapsed > 0) {
        auto second = source_.createSamples(*subscription_, channels_);
        auto delta = second ? source_.createSamplesDelta(*first_, *second) : std::nullopt;
        if (delta && delta->channels && !delta->channels->empty() &&
            delta->channels->front().count >= 0)
            return static_cast<double>(delta->channels->front().count) / 1e6 / elapsed;
    }
    return batteryDischargeWatts(sys_);
}

} // namespace brivane::system_tools
