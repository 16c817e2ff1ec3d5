#pragma once

#include "backends/linux/cpu/cpu_residency.h"
#include "backends/linux/polling/counter_file.h"
#include "backends/linux/polling/sysfs_channel_group.h"

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace brivane::platform::linux_backend {

// How often the residency sampler looks at the CPUs' frequencies, and how long it goes on
// after the last sample a reader asked for. The CPU details reader drops a window of 30 s or
// more, so a sampler that stops 30 s after a request never loses time a reader would use.
// Every look is a wake-up: at 500 ms, a fifth of 100 ms's, the time misplaced between
// frequencies stays near 8 % (1 to 6 % at 100 ms, up to 20 % at 1 s) where the frequency
// changes every 50 to 300 ms (bench/cpu_residency_accuracy_bench); requests look too.
struct CpuSampling {
    std::chrono::nanoseconds period = std::chrono::milliseconds(500);
    std::chrono::nanoseconds linger = std::chrono::seconds(30);
};

// One CPU's state channel: active time per frequency and idle time, cumulative microseconds.
struct CpuStatePlan {
    IOReportChannel description; // states: one per frequency, then "IDLE"
    int cpu = 0;
    // Where the policy keeps time_in_state: its table gives time per frequency, idle included.
    // Else the file that tells the frequency the CPU runs at now (cpuinfo_avg_freq or
    // scaling_cur_freq), sampled.
    std::string frequencyFile;
    bool timeInState = false;
    std::vector<std::uint64_t> kiloHertz; // the states' frequencies, ascending
};

// The CPU state channels of one subscription. Active and idle time come from /proc/stat (one
// read for every CPU). Where time_in_state exists, each sample takes its moves less the idle
// time (removeIdle). Elsewhere a sampler thread puts each CPU's active time into the bin of
// the frequency it ran at, every `period` while readers ask; it runs only from a sample to
// `linger` after the last one, so with no reader it costs no wake-up at all.
class CpuStateReader final : public GroupReader {
public:
    CpuStateReader(const posix::RootedDirectory& sys, const posix::RootedDirectory& proc,
                   std::vector<CpuStatePlan> plans, posix::KeptValue::Pread pread,
                   std::size_t& kept, CpuSampling sampling);
    ~CpuStateReader() override;

    const IOReportChannelList& channels() const override { return descriptions_; }
    void sample(const IOReportChannelList& wanted, IOReportChannelList& out) override;

    // One look at the CPUs, as the sampler thread takes it; for tests and benchmarks.
    void tick();
    bool samplerRunning() const;

private:
    struct Channel {
        CpuStatePlan plan;
        std::size_t file = 0; // into files_, shared by the CPUs of a policy
        std::vector<std::uint64_t> active;
        std::uint64_t idle = 0;
        std::optional<CpuTimes> last;
        std::vector<std::uint64_t> lastTable; // time_in_state, µs per frequency
        std::uint64_t lastKiloHertz = 0;
    };
    struct FrequencyFile {
        CounterFile file;
        std::optional<std::uint64_t> kiloHertz; // this look's reading
        bool read = false;
    };

    void tickLocked(bool request);
    bool readStatLocked();
    std::optional<std::uint64_t> frequencyLocked(FrequencyFile& file);
    void advanceTimeInStateLocked(Channel& channel, const CpuTimes& now);
    void run();

    const posix::RootedDirectory& sys_;
    const posix::RootedDirectory& proc_;
    CpuSampling sampling_;
    std::vector<Channel> channels_;
    std::vector<FrequencyFile> files_;
    IOReportChannelList descriptions_;
    bool sampled_ = false;
    std::uint64_t microsecondsPerStatTick_ = 10'000;

    mutable std::mutex mutex_;
    posix::FileDescriptor statFile_;
    std::vector<char> statText_;
    std::vector<std::optional<CpuTimes>> stat_; // by CPU number
    std::condition_variable wake_;
    std::chrono::steady_clock::time_point deadline_;
    std::chrono::steady_clock::time_point lastLook_;
    std::optional<std::chrono::steady_clock::time_point> lastRequest_;
    std::chrono::steady_clock::duration requestGap_{};
    bool running_ = false;
    bool stopping_ = false;
    std::thread sampler_;
};

} // namespace brivane::platform::linux_backend
