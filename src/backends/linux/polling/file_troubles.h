#pragma once

#include "backends/posix/kernel_files/sysfs_reading.h"

#include <cstddef>
#include <map>
#include <set>
#include <string>
#include <string_view>

namespace brivane::platform::linux_backend {

// The sensor files of one back end whose reads fail for good (the device gone, or the read
// refused), by path. A driver answers so for a moment while a card resets or wakes, or while
// its device is probed again, so one failure costs nothing but a look for the file: a file is
// retired only when it keeps failing, and even then looked at again later, less often each
// time it still fails. A good read forgets it all.
struct TroubleRules {
    int failures = 3;             // reads that failed, in a row,
    double over = 5;              // the first at least this many seconds before the last
    double firstLook = 30;        // a retired file is read again after this long,
    double longestLook = 32 * 60; // and the wait doubles each time, up to this
};

// Not thread-safe: the poller's lock guards it.
class FileTroubles {
public:
    // What the poller does after a read.
    enum class Step {
        none,
        lookForIt, // the file may be elsewhere now: discover again
        retire,    // it keeps failing: stop reading it (logged once)
    };

    explicit FileTroubles(TroubleRules rules = {}) : rules_(rules) {}

    Step note(const std::string& path, posix::Outcome outcome, double now);

    bool retired(std::string_view path) const;
    // Whether a retired file is due to be read again.
    bool lookDue(std::string_view path, double now) const;
    // A retired file read again: answered forgets it, else its next look waits longer.
    void lookedAgain(std::string_view path, bool answered, double now);

    // A discovery's files: the others are forgotten (their device went away).
    void keepOnly(const std::set<std::string, std::less<>>& paths);
    void forgetAll() { files_.clear(); }
    std::size_t retiredCount() const;

private:
    struct Trouble {
        int failures = 0;
        double since = 0;
        bool retired = false;
        double lookAt = 0;
        double wait = 0;
    };

    TroubleRules rules_;
    std::map<std::string, Trouble, std::less<>> files_;
};

} // namespace brivane::platform::linux_backend
