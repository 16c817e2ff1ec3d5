#pragma once

#include "backends/posix/kernel_files/sysfs_reading.h"
#include "platform/uptime_clock.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <unordered_map>
#include <vector>

namespace brivane::platform::linux_backend {

// How the back ends pace their reads, in seconds of uptime.
struct SensorTiming {
    double refresh = 1;          // between two reads of a channel while clients ask
    double slowRead = 0.002;     // a read that takes longer makes its channel slow, for good
    double slowInterval = 2;     // between two reads of a slow channel, at least,
    double slowShare = 0.02;     // and long enough that reading it takes at most this share
    double idleAfter = 10;       // after the last request, reading stops
    double firstWait = 0.04;     // the first request after a rest waits for fresh values
    double stuckAfter = 2;       // a read that has not returned by then is stuck
    double rediscoverEvery = 30; // while clients ask; 0: only when a file is gone
    // Reads that have not answered within this long are taken for hung while others are read
    // beside them (real time, not the poller's clock: it is about threads waiting).
    double suspectAfter = 0.02;
};

// How a channel's driver wants to be read.
struct ChannelPace {
    bool slow = false;          // every read is a firmware call
    double minimumInterval = 0; // the driver's own cache interval
};

// What every channel under one root shares.
struct ChannelContext {
    posix::RootedDirectory root;
    SensorTiming timing;
    std::shared_ptr<const UptimeClock> clock;
    posix::KeptValue::Pread pread = ::pread;
    std::size_t keptLimit = 256;
};

// The device a sysfs path belongs to: its first three components ("class/hwmon/hwmon3"), which a
// hung read puts out of reach as a whole.
std::string_view deviceOf(std::string_view relative);

// A device's runtime power state, its power/runtime_status: while it reads "suspended", the
// channels it guards read nothing, since on many kernels reading a sensor file resumes the
// device (a hybrid-graphics laptop's discrete card). The file itself never wakes it; the lanes
// read it at most once a pass.
class RuntimeSuspend {
public:
    RuntimeSuspend(const ChannelContext& context, const std::string& statusFile);
    bool usable() const { return file_.isOpen(); }
    // Whether the device sleeps, as read for the lane pass that began at `pass`.
    bool suspended(double pass);

private:
    std::mutex mutex_; // both lanes may ask
    posix::KeptValue file_;
    std::optional<double> pass_;
    bool suspended_ = false;
};

// One value file: kept open and re-read with one pread (or opened per read past the limit of
// kept files), read only by the poller's lanes; requests take its latest value. A channel may
// instead be a probe, a function that reads what it needs (a card's files, a library) and gives
// one number, run by the lanes as a file would be read.
class SensorChannel {
public:
    using Probe = std::function<posix::Reading<std::int64_t>()>;

    SensorChannel(const ChannelContext& context, std::string relative, ChannelPace pace,
                  bool keepOpen, std::shared_ptr<RuntimeSuspend> guard = nullptr);
    SensorChannel(std::string relative, ChannelPace pace, Probe probe);

    const std::string& relative() const { return relative_; }
    std::string_view device() const { return deviceOf(relative_); }
    bool usable() const { return usable_; }

    // Reads the file now and times the read: the value is kept, a slow read moves the channel
    // to the slow lane, and the next read is due one interval after `pass` (when the lane's
    // pass began, so that the channels of one pass fall due together again). While its device
    // is suspended nothing is read: the value is absent, and looked at again a refresh later.
    // A read beside others (`timed` false) is not timed: threads that share the processors
    // wait for them, and a fast file would pass for a slow one.
    posix::Outcome refresh(const ChannelContext& context, double pass, bool timed = true);
    // Forgets a value older than twice its interval and a refresh: after a rest, and at every
    // request, so that a value shown is fresh or absent.
    void expire(const ChannelContext& context, double now);

    std::optional<std::int64_t> value() const;
    bool pending() const { return !read_.load(std::memory_order_acquire); }
    bool slow() const { return slow_.load(std::memory_order_acquire); }
    bool stuck() const { return stuck_.load(std::memory_order_acquire); }
    bool gone() const { return gone_.load(std::memory_order_acquire); }
    // Not read again: its read hung, or it keeps failing.
    bool skipped() const { return stuck() || retired(); }
    bool retired() const { return retired_.load(std::memory_order_acquire); }
    void markStuck() { stuck_.store(true, std::memory_order_release); }
    void unstick() { stuck_.store(false, std::memory_order_release); }
    void reinstate() { retired_.store(false, std::memory_order_release); }
    void retire() {
        retired_.store(true, std::memory_order_release);
        latest_.store(kNoValue, std::memory_order_relaxed);
    }
    double due() const { return due_.load(std::memory_order_relaxed); }
    // Reads a retired file afresh (opened for this read: a node probed again is another file),
    // or runs the probe, keeping nothing but the outcome.
    posix::Outcome lookAgain(const ChannelContext& context) const;
    // A channel proven in the poller's current era has answered since the last hung read: the
    // lane reads it itself; the others are read side by side, so that many hung devices cost
    // one wait together.
    bool provenIn(std::uint64_t era) const {
        return proven_.load(std::memory_order_acquire) == era;
    }
    void prove(std::uint64_t era) { proven_.store(era, std::memory_order_release); }
    bool isProbe() const { return static_cast<bool>(probe_); }

private:
    static constexpr std::int64_t kNoValue = INT64_MIN;

    std::string relative_;
    posix::KeptValue file_;
    Probe probe_;
    std::shared_ptr<RuntimeSuspend> guard_;
    bool usable_ = false;
    ChannelPace pace_;
    std::atomic<std::int64_t> latest_{kNoValue};
    std::atomic<double> readAt_{0};
    std::atomic<double> interval_{0};
    std::atomic<double> due_{0};
    std::atomic<bool> read_{false};
    std::atomic<bool> slow_{false};
    std::atomic<bool> stuck_{false};
    std::atomic<bool> gone_{false};
    std::atomic<bool> retired_{false};
    std::atomic<std::uint64_t> proven_{0}; // eras start at 1
};

// The channels one discovery found. A discovery that finds a file the previous one had takes
// over its channel, value, pace and descriptor included; only a file that went away is opened
// anew.
class ChannelSet {
public:
    ChannelSet(std::shared_ptr<const ChannelContext> context,
               std::shared_ptr<const ChannelSet> previous);

    const posix::RootedDirectory& root() const { return context_->root; }
    posix::KeptValue::Pread pread() const { return context_->pread; }
    // A value file under root(); absent when it is not a regular file that can be opened.
    // With a guard, the file is not read while its device is suspended (a channel a previous
    // set had keeps its own guard).
    std::optional<std::size_t> add(const std::string& relative, ChannelPace pace = {},
                                   std::shared_ptr<RuntimeSuspend> guard = nullptr);
    // The guard of the device whose power/runtime_status is `statusFile`; null without one.
    std::shared_ptr<RuntimeSuspend> runtimeSuspend(const std::string& statusFile) const;
    // A probe named `relative` (a path under the device it reads); a previous set's probe of
    // that name is taken over, state included.
    std::size_t addProbe(const std::string& relative, ChannelPace pace, SensorChannel::Probe probe);
    // The channel of a file, when this set has it.
    std::optional<std::size_t> find(const std::string& relative) const;

    // The latest value read; absent before the first read, after a failed one, and for a
    // channel that is stuck.
    std::optional<std::int64_t> value(std::size_t channel) const {
        return channels_[channel]->value();
    }
    bool pending(std::size_t channel) const { return channels_[channel]->pending(); }
    std::span<const std::shared_ptr<SensorChannel>> all() const { return channels_; }
    // Once discovery is over: the set no longer keeps the one before it alive.
    void forgetPrevious() { previous_.reset(); }

private:
    std::shared_ptr<const ChannelContext> context_;
    std::shared_ptr<const ChannelSet> previous_; // dropped once discovery is over
    std::vector<std::shared_ptr<SensorChannel>> channels_;
    std::unordered_map<std::string, std::size_t> byPath_;
    std::size_t kept_ = 0;

    std::shared_ptr<SensorChannel> previousChannel(const std::string& relative) const;
};

} // namespace brivane::platform::linux_backend
