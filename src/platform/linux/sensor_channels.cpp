#include "platform/linux/sensor_channels.h"

#include "platform/thread_name.h"

namespace brivane::platform::linux_backend {

SensorChannels::SensorChannels(const std::string& root, SensorTiming timing,
                               host::KeptValue::Pread pread, std::size_t keptLimit)
    : root_(root), timing_(timing), pread_(pread), keptLimit_(keptLimit) {}

SensorChannels::~SensorChannels() {
    {
        const std::lock_guard lock(mutex_);
        stop_ = true;
    }
    stopping_.notify_all();
    if (refresher_.joinable()) {
        refresher_.join();
    }
}

std::optional<std::size_t> SensorChannels::add(const std::string& relative) {
    auto channel = std::make_unique<Channel>();
    if (channels_.size() < keptLimit_) {
        channel->file = host::KeptValue(root_, relative.c_str(), pread_);
        if (!channel->file.isOpen()) {
            return std::nullopt;
        }
    } else {
        // Descriptors are not unlimited: past the limit a sensor costs an open per read.
        if (!host::FileDescriptor(root_.openFile(relative.c_str())).valid()) {
            return std::nullopt;
        }
        channel->relative = relative;
    }
    channels_.push_back(std::move(channel));
    return channels_.size() - 1;
}

void SensorChannels::start() {
    bool anySlow = false;
    for (auto& channel : channels_) {
        const auto began = std::chrono::steady_clock::now();
        channel->latest.store(readNow(*channel), std::memory_order_relaxed);
        channel->slow = std::chrono::steady_clock::now() - began > timing_.slowRead;
        anySlow = anySlow || channel->slow;
    }
    if (anySlow) {
        refresher_ = std::thread([this] {
            setCurrentThreadName("sensor-refresh");
            refreshSlowChannels();
        });
    }
}

std::optional<std::int64_t> SensorChannels::value(std::size_t channel) const {
    const Channel& kept = *channels_[channel];
    const std::int64_t value =
        kept.slow ? kept.latest.load(std::memory_order_relaxed) : readNow(kept);
    return value == kNoValue ? std::nullopt : std::optional<std::int64_t>(value);
}

std::int64_t SensorChannels::readNow(const Channel& channel) const {
    const auto reading =
        channel.file.isOpen() ? channel.file.read() : root_.readInteger(channel.relative.c_str());
    return reading.value && *reading.value != kNoValue ? *reading.value : kNoValue;
}

void SensorChannels::refreshSlowChannels() {
    std::unique_lock lock(mutex_);
    while (!stopping_.wait_for(lock, timing_.refresh, [this] { return stop_; })) {
        lock.unlock();
        for (auto& channel : channels_) {
            if (channel->slow) {
                channel->latest.store(readNow(*channel), std::memory_order_relaxed);
            }
        }
        lock.lock();
    }
}

} // namespace brivane::platform::linux_backend
