#pragma once

#include "platform/host/sysfs_reading.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace brivane::platform::linux_backend {

// When a sensor counts as slow, and how often a slow one is read in the background.
struct SensorTiming {
    std::chrono::nanoseconds slowRead = std::chrono::milliseconds(2);
    std::chrono::nanoseconds refresh = std::chrono::seconds(1);
};

// The sensor value files under one root that a back end reads on every snapshot, each kept
// open and re-read with one pread (beyond `keptLimit` files, opened for each read instead). Some
// drivers take milliseconds (SMBus) to half a second (firmware calls) per read: a channel whose
// first read takes longer than `slowRead` is refreshed by a background thread every `refresh`, and
// a snapshot takes its latest value instead of waiting.
class SensorChannels {
public:
    static constexpr std::size_t kKeptLimit = 256;

    explicit SensorChannels(const std::string& root, SensorTiming timing = {},
                            host::KeptValue::Pread pread = ::pread,
                            std::size_t keptLimit = kKeptLimit);
    ~SensorChannels();
    SensorChannels(const SensorChannels&) = delete;
    SensorChannels& operator=(const SensorChannels&) = delete;

    const host::RootedDirectory& root() const { return root_; }
    // A file under root(); absent when it cannot be opened. Only before start().
    std::optional<std::size_t> add(const std::string& relative);
    // Reads every channel once, timing the read, and starts refreshing the slow ones.
    void start();

    // The channel's value: read now, or the latest background reading of a slow channel.
    // Absent when this read failed or the file holds no number. Safe from any thread.
    std::optional<std::int64_t> value(std::size_t channel) const;
    bool isSlow(std::size_t channel) const { return channels_[channel]->slow; }

private:
    static constexpr std::int64_t kNoValue = INT64_MIN;
    struct Channel {
        host::KeptValue file;
        std::string relative; // when not kept open
        bool slow = false;
        std::atomic<std::int64_t> latest{kNoValue};
    };
    std::int64_t readNow(const Channel& channel) const;
    void refreshSlowChannels();

    host::RootedDirectory root_;
    SensorTiming timing_;
    host::KeptValue::Pread pread_;
    std::size_t keptLimit_;
    std::vector<std::unique_ptr<Channel>> channels_;
    std::mutex mutex_;
    std::condition_variable stopping_;
    bool stop_ = false;
    std::thread refresher_;
};

} // namespace brivane::platform::linux_backend
