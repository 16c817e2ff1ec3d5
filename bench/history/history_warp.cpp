// Records a made-up machine into a history with the clock warped: two years at two samples an
// hour, then six days at one a minute, then a last day at the recorder's own interval, so each
// tier is as full as two years of recording leave it. Says the file's size, the rows of each
// tier, what a sample costs to store, and what `history` takes to read 24 hours and a year of
// some series back.
//   history_warp FILE [SENSORS=150] [INTERVAL_S=10] [DAYS=730]
// A night for trying `history` on: history_warp FILE 12 10 1 (then XDG_STATE_HOME at its folder).
// DAYS 0 reads an existing FILE back only.

#include "history/history_reader.h"
#include "history/history_report.h"
#include "history/history_store.h"

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <sys/resource.h>
#include <sys/stat.h>
#include <vector>

using namespace brivane::cli;

namespace {

using Clock = std::chrono::steady_clock;

double msSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// CPU time of this process, ms: on a shared machine, wall time measures the neighbours too.
double cpuMs() {
    timespec now{};
    ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) * 1e3 + static_cast<double>(now.tv_nsec) / 1e6;
}

// Sensors of a plausible machine: CPU and board temperatures with a day's rhythm and noise,
// fans that follow them, voltages that barely move.
std::vector<RecordedReading> readingsAt(std::size_t count, std::int64_t timeMs) {
    std::vector<RecordedReading> readings;
    const double hours = static_cast<double>(timeMs) / 3.6e6;
    const double day = std::sin(hours / 24 * 2 * M_PI);
    for (std::size_t i = 0; i < count; ++i) {
        RecordedReading reading;
        // Slow wander of a few minutes' period, as a machine's load comes and goes.
        const double seconds = static_cast<double>(timeMs) / 1000;
        const double noise = std::sin(seconds / 437 + static_cast<double>(i)) *
                             std::cos(seconds / 1311 + static_cast<double>(7 * i));
        switch (i % 3) {
        case 0:
            reading.name = i == 0 ? "k10temp/Tctl" : "nct6798/temp" + std::to_string(i);
            reading.kind = "temperature";
            reading.unit = "celsius";
            reading.value =
                static_cast<float>(52 + 14 * day + 6 * noise + static_cast<double>(i % 7));
            reading.marks.limits[1] = 80;
            reading.marks.limits[3] = 95;
            break;
        case 1:
            reading.name = "nct6798/fan" + std::to_string(i);
            reading.kind = "fan";
            reading.unit = "rpm";
            reading.value = static_cast<float>(900 + 400 * day + 120 * noise);
            break;
        default:
            reading.name = "nct6798/in" + std::to_string(i);
            reading.kind = "voltage";
            reading.unit = "volts";
            reading.value = static_cast<float>(1.2 + 0.01 * noise);
            reading.marks.limits[0] = 1.1f;
            reading.marks.limits[1] = 1.3f;
            break;
        }
        // A sensor that drops out for a while now and then: a gap, not a zero.
        if (i == 4 && (timeMs / 3600000) % 9 == 0) {
            reading.value.reset();
        }
        readings.push_back(std::move(reading));
    }
    return readings;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: history_warp FILE [SENSORS] [INTERVAL_S] [DAYS]\n");
        return 2;
    }
    const std::string path = argv[1];
    const std::size_t sensors = argc > 2 ? std::strtoul(argv[2], nullptr, 10) : 150;
    const std::int64_t interval = (argc > 3 ? std::strtoll(argv[3], nullptr, 10) : 10) * 1000;
    const std::int64_t days = argc > 4 ? std::strtoll(argv[4], nullptr, 10) : 730;
    const std::int64_t dayMs = 24 * msPerHour;
    // Ends at the last whole interval before now, so `history` finds it as the latest day.
    const auto wall = std::chrono::duration_cast<std::chrono::milliseconds>(
                          std::chrono::system_clock::now().time_since_epoch())
                          .count();
    const std::int64_t end = wall / interval * interval;
    const std::int64_t start = end - days * dayMs;
    const bool recording = days > 0;
    auto opened = HistoryStore::open(path, start);
    if (!opened.store) {
        for (const auto& line : opened.said) {
            std::fprintf(stderr, "%s\n", line.c_str());
        }
        return 1;
    }
    auto& store = *opened.store;
    std::int64_t stored = 0;
    double lastDayMs = 0;
    const auto phase = [&](std::int64_t from, std::int64_t to, std::int64_t step) {
        for (std::int64_t time = from; time < to; time += step) {
            const auto outcome = store.record(readingsAt(sensors, time), time, step);
            if (outcome.written != HistoryStore::Written::stored) {
                std::fprintf(stderr, "not stored: %s\n", outcome.problem.c_str());
                std::exit(1);
            }
            ++stored;
        }
    };
    const std::int64_t weekStart = std::max(start, end - 7 * dayMs);
    const std::int64_t dayStart = std::max(start, end - dayMs);
    const double timed = cpuMs();
    if (recording) {
        phase(start, weekStart, msPerHour / 2);
        phase(weekStart, dayStart, msPerMinute);
        lastDayMs = cpuMs();
        phase(dayStart, end + 1, interval);
        lastDayMs = cpuMs() - lastDayMs;
    }
    const std::int64_t daySamples = (end - dayStart) / interval + 1;
    auto& db = store.database();
    db.execute("PRAGMA wal_checkpoint(TRUNCATE)");
    struct stat status {};
    ::stat(path.c_str(), &status);
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    std::printf("%zu sensors, %lld days: %lld samples stored; file %.1f MiB; rows: samples %lld, "
                "minutes %lld, hours %lld, marks %lld\n",
                sensors, static_cast<long long>(days), static_cast<long long>(stored),
                static_cast<double>(status.st_size) / 1048576.0,
                static_cast<long long>(*db.queryInteger("SELECT count(*) FROM samples")),
                static_cast<long long>(*db.queryInteger("SELECT count(*) FROM minutes")),
                static_cast<long long>(*db.queryInteger("SELECT count(*) FROM hours")),
                static_cast<long long>(*db.queryInteger("SELECT count(*) FROM marks")));
    std::printf("storing a sample at the recorder's interval: %.2f ms of CPU (the last day's "
                "%lld; all: %.0f ms), peak RSS %ld KiB\n",
                lastDayMs / static_cast<double>(daySamples), static_cast<long long>(daySamples),
                cpuMs() - timed, usage.ru_maxrss);
    opened.store.reset();

    // What `history` does, but printing: open, pick, read, sum up.
    const auto query = [&](std::size_t count, std::int64_t span) {
        const auto begin = Clock::now();
        const double cpu = cpuMs();
        std::string problem;
        auto reader = HistoryReader::open(path, problem);
        if (!reader) {
            std::fprintf(stderr, "%s\n", problem.c_str());
            std::exit(1);
        }
        std::vector<std::int64_t> ids;
        for (std::size_t i = 0; i < count && i < reader->series().size(); ++i) {
            ids.push_back(reader->series()[i].id);
        }
        auto points = reader->read(ids, end - span, end + 1, end);
        std::size_t total = 0;
        for (auto& series : *points) {
            SeriesReport report{nullptr, std::move(series), {}, {}, {}, {}, 0};
            summarise(report);
            total += report.points.size();
        }
        std::printf("history over %lld h of %zu sensors: %.1f ms of CPU, %.1f ms (%zu points)\n",
                    static_cast<long long>(span / msPerHour), ids.size(), cpuMs() - cpu,
                    msSince(begin), total);
    };
    query(std::min<std::size_t>(50, sensors), dayMs);
    if (days >= 365 || !recording) {
        query(std::min<std::size_t>(50, sensors), 365 * dayMs);
    }
    return 0;
}
