#include "backends/linux/cpu/cpu_state_reader.h"

#include "backends/linux/cpu/cpufreq_parsing.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <pthread.h>
#include <sys/prctl.h>
#include <unistd.h>

namespace brivane::platform::linux_backend {

namespace {

// The longest per-CPU line of /proc/stat: "cpu8191" and ten 20-digit figures.
constexpr std::size_t statLineLength = 224;

std::uint64_t since(std::uint64_t older, std::uint64_t newer) {
    return newer >= older ? newer - older : 0; // a CPU's counters never go back but for a reset
}

} // namespace

CpuStateReader::CpuStateReader(const posix::RootedDirectory& sys,
                               const posix::RootedDirectory& proc, std::vector<CpuStatePlan> plans,
                               posix::KeptValue::Pread pread, std::size_t& kept,
                               CpuSampling sampling)
    : sys_(sys), proc_(proc), sampling_(sampling) {
    if (const long ticks = ::sysconf(_SC_CLK_TCK); ticks > 0)
        microsecondsPerStatTick_ = 1'000'000u / static_cast<std::uint64_t>(ticks);
    int highest = 0;
    for (CpuStatePlan& plan : plans) {
        Channel channel;
        const auto shared = std::find_if(files_.begin(), files_.end(), [&](const auto& file) {
            return file.file.path() == plan.frequencyFile;
        });
        channel.file = static_cast<std::size_t>(shared - files_.begin());
        if (shared == files_.end())
            files_.push_back({CounterFile(sys_, plan.frequencyFile, pread, kept), {}, false});
        channel.active.assign(plan.kiloHertz.size(), 0);
        sampled_ = sampled_ || !plan.timeInState;
        highest = std::max(highest, plan.cpu);
        descriptions_.push_back(plan.description);
        channel.plan = std::move(plan);
        channels_.push_back(std::move(channel));
    }
    stat_.resize(static_cast<std::size_t>(highest) + 1);
    statText_.resize(statLineLength * (stat_.size() + 2));
}

CpuStateReader::~CpuStateReader() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    if (sampler_.joinable())
        sampler_.join();
}

void CpuStateReader::sample(const IOReportChannelList& wanted, IOReportChannelList& out) {
    std::lock_guard lock(mutex_);
    if (sampled_ && !running_) {
        if (sampler_.joinable())
            sampler_.join(); // it has ended; it takes the lock no more
        // The time the sampler was stopped is in no bin: start every sampled CPU afresh.
        for (Channel& channel : channels_)
            if (!channel.plan.timeInState)
                channel.last.reset();
        running_ = true;
        sampler_ = std::thread([this] { run(); });
    }
    tickLocked(true);
    const auto now = std::chrono::steady_clock::now();
    if (lastRequest_)
        requestGap_ = now - *lastRequest_;
    lastRequest_ = lastLook_ = now;
    deadline_ = now + sampling_.linger;
    for (const IOReportChannel& want : wanted) {
        for (const Channel& channel : channels_) {
            if (channel.plan.description.channelID != want.channelID)
                continue;
            IOReportChannel& values = out.emplace_back(channel.plan.description);
            for (std::size_t i = 0; i < channel.active.size(); ++i)
                values.states[i].residency = static_cast<std::int64_t>(channel.active[i]);
            values.states.back().residency = static_cast<std::int64_t>(channel.idle);
            break;
        }
    }
}

void CpuStateReader::tick() {
    std::lock_guard lock(mutex_);
    tickLocked(false);
}

bool CpuStateReader::samplerRunning() const {
    std::lock_guard lock(mutex_);
    return running_;
}

void CpuStateReader::run() {
    // Named directly: clients that only list the channels link no thread-naming back end.
    ::pthread_setname_np(::pthread_self(), "cpu-residency");
    // A look a tenth of a period late misplaces nothing: let the kernel fold it into another
    // wake-up of the machine.
    ::prctl(PR_SET_TIMERSLACK, static_cast<unsigned long>(sampling_.period.count() / 10));
    std::unique_lock lock(mutex_);
    const auto period = sampling_.period;
    for (;;) {
        // A period after the last look, a request's included. A client that asks at a steady
        // pace looks for the sampler when it would come within half a period of that: the
        // sampler looks a period after it instead, and a 1 Hz client at 500 ms costs one
        // wake-up a second, not two.
        auto next = lastLook_ + period;
        if (lastRequest_ && requestGap_ < sampling_.linger) {
            const auto expected = *lastRequest_ + requestGap_;
            if (expected > lastLook_ && expected < next + period / 2)
                next = expected + period;
        }
        if (wake_.wait_until(lock, next, [this] { return stopping_; }))
            break;
        const auto now = std::chrono::steady_clock::now();
        if (now >= deadline_)
            break;
        if (now < lastLook_ + period / 2)
            continue; // a request looked just now: a look would see next to nothing
        tickLocked(false);
        lastLook_ = now;
    }
    running_ = false;
}

bool CpuStateReader::readStatLocked() {
    // Kept open and read from offset 0, where procfs makes the text anew: one system call. Only
    // the CPU lines, which come first, matter, so the buffer may cut the rest off.
    if (!statFile_.valid())
        statFile_ = posix::FileDescriptor(proc_.openFile("stat"));
    ssize_t got = -1;
    do {
        got = statFile_.valid() ? ::pread(statFile_.get(), statText_.data(), statText_.size(), 0)
                                : -1;
    } while (got < 0 && errno == EINTR);
    if (got <= 0)
        return false;
    std::fill(stat_.begin(), stat_.end(), std::nullopt);
    forEachProcStatCpu(std::string_view(statText_.data(), static_cast<std::size_t>(got)),
                       [&](const CpuTimes& times) {
                           if (static_cast<std::size_t>(times.cpu) < stat_.size())
                               stat_[static_cast<std::size_t>(times.cpu)] = times;
                       });
    return true;
}

std::optional<std::uint64_t> CpuStateReader::frequencyLocked(FrequencyFile& file) {
    if (!file.read) {
        file.read = true;
        file.kiloHertz = file.file.readCounter(sys_);
    }
    return file.kiloHertz;
}

void CpuStateReader::tickLocked(bool request) {
    if (!readStatLocked())
        return;
    for (FrequencyFile& file : files_)
        file.read = false;
    for (Channel& channel : channels_) {
        const auto& now = stat_[static_cast<std::size_t>(channel.plan.cpu)];
        if (!now)
            continue; // offline for now, or a cut read
        if (channel.plan.timeInState) {
            if (request)
                advanceTimeInStateLocked(channel, *now);
            continue;
        }
        if (channel.last) {
            const std::uint64_t active = since(channel.last->active, now->active);
            // An idle CPU's frequency does not matter: no read for it.
            if (active != 0)
                if (const auto kiloHertz = frequencyLocked(files_[channel.file]))
                    channel.lastKiloHertz = *kiloHertz;
            if (active != 0 && channel.lastKiloHertz == 0)
                continue; // no frequency known yet: the time waits for the next look
            channel.active[nearestBin(channel.plan.kiloHertz, channel.lastKiloHertz)] +=
                active * microsecondsPerStatTick_;
            channel.idle += since(channel.last->idle, now->idle) * microsecondsPerStatTick_;
        }
        channel.last = *now;
    }
}

void CpuStateReader::advanceTimeInStateLocked(Channel& channel, const CpuTimes& now) {
    std::array<char, 8192> buffer;
    const posix::FileText text = files_[channel.file].file.read(sys_, buffer);
    const auto table =
        text.outcome == posix::Outcome::value ? parseTimeInState(text.text) : std::nullopt;
    if (!table)
        return;
    std::vector<std::uint64_t> current;
    current.reserve(channel.plan.kiloHertz.size());
    for (std::uint64_t kiloHertz : channel.plan.kiloHertz) {
        const auto found = std::lower_bound(table->begin(), table->end(), kiloHertz,
                                            [](const FrequencyTime& entry, std::uint64_t wanted) {
                                                return entry.kiloHertz < wanted;
                                            });
        if (found == table->end() || found->kiloHertz != kiloHertz)
            return; // the policy lost one of its frequencies
        current.push_back(found->ticks * microsecondsPerTick);
    }
    if (channel.last && channel.lastTable.size() == current.size()) {
        std::vector<std::uint64_t> moves(current.size());
        for (std::size_t i = 0; i < current.size(); ++i)
            moves[i] = since(channel.lastTable[i], current[i]);
        const std::uint64_t idle = since(channel.last->idle, now.idle) * microsecondsPerStatTick_;
        removeIdle(moves, idle);
        for (std::size_t i = 0; i < moves.size(); ++i)
            channel.active[i] += moves[i];
        channel.idle += idle;
    }
    channel.last = now;
    channel.lastTable = std::move(current);
}

} // namespace brivane::platform::linux_backend
