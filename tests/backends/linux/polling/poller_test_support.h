#pragma once

// What the hwmon and poller tests share: the temperatures a sample shows, and reads that count,
// take the test clock's time or wait at a gate.

#include "backends/linux/polling/sensor_poller.h"
#include "platform/hardware_monitor.h"
#include "platform/uptime_clock.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <future>
#include <string>
#include <unistd.h>
#include <utility>
#include <vector>

namespace brivane::platform::linux_backend {

using Found = std::vector<std::pair<std::string, double>>;

inline Found temperaturesOf(const MonitorSample& sample) {
    Found found;
    for (const auto& t : sample.temperatures) {
        found.emplace_back(t.key, t.celsius);
    }
    return found;
}

inline const char* countedPath = "nct6775";
// Reads of files on countedPath are counted; a file reading "smm <n>" takes half a second of
// the test's clock (a firmware call), one reading "gate <n>" waits until the gate opens.
inline ManualUptimeClock* clockOfReads = nullptr;
inline std::atomic<int> boardReads{0};
inline std::atomic<int> smmReads{0};
inline std::promise<void> gate;
inline const std::shared_future<void> gateOpened = gate.get_future().share();
inline std::atomic<int> readsAtTheGate{0}; // a stuck lane outlives its test: let it leave first

inline ssize_t timedPread(int fd, void* buffer, std::size_t size, off_t offset) {
    char path[256] = {};
    const std::string link = "/proc/self/fd/" + std::to_string(fd);
    if (::readlink(link.c_str(), path, sizeof path - 1) > 0 && std::strstr(path, countedPath)) {
        ++boardReads;
    }
    char text[64];
    const ssize_t got = ::pread(fd, text, sizeof text, 0);
    const std::string_view content(text, got > 0 ? static_cast<std::size_t>(got) : 0);
    const auto rest = content.substr(std::min(content.find(' ') + 1, content.size()));
    if (content.starts_with("smm ")) {
        ++smmReads;
        clockOfReads->advance(0.5);
    } else if (content.starts_with("gate ")) {
        ++readsAtTheGate;
        gateOpened.wait();
        --readsAtTheGate;
    } else {
        return ::pread(fd, buffer, size, offset);
    }
    std::memcpy(buffer, rest.data(), std::min(rest.size(), size));
    return static_cast<ssize_t>(std::min(rest.size(), size));
}

inline SensorPoller::Setup manual(const std::shared_ptr<ManualUptimeClock>& clock,
                                  posix::KeptValue::Pread pread = timedPread) {
    return {.clock = clock, .pread = pread, .background = false};
}

} // namespace brivane::platform::linux_backend
