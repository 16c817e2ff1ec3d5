#include "backends/linux/polling/sensor_channels.h"

#include <algorithm>
#include <array>
#include <cmath>

namespace brivane::platform::linux_backend {

std::string_view deviceOf(std::string_view relative) {
    std::size_t end = 0;
    for (int part = 0; part < 3 && end != std::string_view::npos; ++part) {
        end = relative.find('/', end == 0 ? 0 : end + 1);
    }
    return relative.substr(0, end);
}

RuntimeSuspend::RuntimeSuspend(const ChannelContext& context, const std::string& statusFile)
    : file_(context.root, statusFile.c_str(), context.pread) {}

bool RuntimeSuspend::suspended(double pass) {
    const std::lock_guard lock(mutex_);
    if (pass_ != pass) {
        pass_ = pass;
        std::array<char, 32> buffer;
        const posix::FileText status = file_.readInto(buffer);
        suspended_ = status.outcome == posix::Outcome::value &&
                     posix::withoutNewline(status.text) == "suspended";
    }
    return suspended_;
}

SensorChannel::SensorChannel(const ChannelContext& context, std::string relative, ChannelPace pace,
                             bool keepOpen, std::shared_ptr<RuntimeSuspend> guard)
    : relative_(std::move(relative)), guard_(std::move(guard)), pace_(pace) {
    if (keepOpen) {
        file_ = posix::KeptValue(context.root, relative_.c_str(), context.pread);
        usable_ = file_.isOpen();
    } else {
        // Descriptors are not unlimited: past the limit a sensor costs an open per read.
        usable_ = posix::FileDescriptor(context.root.openRegular(relative_.c_str())).valid();
    }
    slow_.store(pace.slow, std::memory_order_relaxed);
}

SensorChannel::SensorChannel(std::string relative, ChannelPace pace, Probe probe)
    : relative_(std::move(relative)), probe_(std::move(probe)), usable_(true), pace_(pace) {
    slow_.store(pace.slow, std::memory_order_relaxed);
}

posix::Outcome SensorChannel::refresh(const ChannelContext& context, double pass, bool timed) {
    const SensorTiming& timing = context.timing;
    if (guard_ && guard_->suspended(pass)) {
        latest_.store(kNoValue, std::memory_order_relaxed);
        due_.store(pass + timing.refresh, std::memory_order_relaxed);
        read_.store(true, std::memory_order_release);
        return posix::Outcome::absentNow;
    }
    const double began = context.clock->uptime();
    const auto reading = probe_           ? probe_()
                         : file_.isOpen() ? file_.read()
                                          : context.root.readInteger(relative_.c_str());
    const double ended = context.clock->uptime();
    const double took = ended - began;

    latest_.store(reading.value && *reading.value != kNoValue ? *reading.value : kNoValue,
                  std::memory_order_relaxed);
    readAt_.store(ended, std::memory_order_relaxed);
    if (timed && took > timing.slowRead) {
        slow_.store(true, std::memory_order_release);
    }
    // A driver's cache interval is rounded up to whole refreshes, so its passes coincide with
    // the others' instead of waking the lane in between.
    const double cached = std::ceil(pace_.minimumInterval / timing.refresh) * timing.refresh;
    const double interval = slow()
                                ? std::max({timing.slowInterval, cached, took / timing.slowShare})
                                : std::max(timing.refresh, cached);
    interval_.store(interval, std::memory_order_relaxed);
    due_.store(pass + interval, std::memory_order_relaxed);
    read_.store(true, std::memory_order_release);
    if (reading.outcome == posix::Outcome::gone) {
        gone_.store(true, std::memory_order_release);
    }
    return reading.outcome;
}

posix::Outcome SensorChannel::lookAgain(const ChannelContext& context) const {
    if (probe_) {
        return probe_().outcome;
    }
    return posix::KeptValue(context.root, relative_.c_str(), context.pread).read().outcome;
}

void SensorChannel::expire(const ChannelContext& context, double now) {
    const double limit = 2 * interval_.load(std::memory_order_relaxed) + context.timing.refresh;
    if (now - readAt_.load(std::memory_order_relaxed) > limit) {
        latest_.store(kNoValue, std::memory_order_relaxed);
    }
}

std::optional<std::int64_t> SensorChannel::value() const {
    const std::int64_t value = latest_.load(std::memory_order_relaxed);
    if (value == kNoValue || skipped()) {
        return std::nullopt;
    }
    return value;
}

ChannelSet::ChannelSet(std::shared_ptr<const ChannelContext> context,
                       std::shared_ptr<const ChannelSet> previous)
    : context_(std::move(context)), previous_(std::move(previous)) {}

std::shared_ptr<SensorChannel> ChannelSet::previousChannel(const std::string& relative) const {
    if (previous_) {
        const auto found = previous_->byPath_.find(relative);
        if (found != previous_->byPath_.end() && !previous_->channels_[found->second]->gone()) {
            return previous_->channels_[found->second];
        }
    }
    return nullptr;
}

std::optional<std::size_t> ChannelSet::find(const std::string& relative) const {
    const auto found = byPath_.find(relative);
    return found == byPath_.end() ? std::nullopt : std::optional(found->second);
}

std::size_t ChannelSet::addProbe(const std::string& relative, ChannelPace pace,
                                 SensorChannel::Probe probe) {
    if (const auto known = find(relative)) {
        return *known;
    }
    auto channel = previousChannel(relative);
    if (!channel) {
        channel = std::make_shared<SensorChannel>(relative, pace, std::move(probe));
    }
    channels_.push_back(std::move(channel));
    byPath_.emplace(relative, channels_.size() - 1);
    return channels_.size() - 1;
}

std::shared_ptr<RuntimeSuspend> ChannelSet::runtimeSuspend(const std::string& statusFile) const {
    auto guard = std::make_shared<RuntimeSuspend>(*context_, statusFile);
    return guard->usable() ? guard : nullptr;
}

std::optional<std::size_t> ChannelSet::add(const std::string& relative, ChannelPace pace,
                                           std::shared_ptr<RuntimeSuspend> guard) {
    if (const auto known = find(relative)) {
        return known;
    }
    std::shared_ptr<SensorChannel> channel = previousChannel(relative);
    if (!channel) {
        channel = std::make_shared<SensorChannel>(*context_, relative, pace,
                                                  kept_ < context_->keptLimit, std::move(guard));
        if (!channel->usable()) {
            return std::nullopt;
        }
        kept_ += kept_ < context_->keptLimit ? 1 : 0;
    } else {
        ++kept_;
    }
    channels_.push_back(std::move(channel));
    byPath_.emplace(relative, channels_.size() - 1);
    return channels_.size() - 1;
}

} // namespace brivane::platform::linux_backend
