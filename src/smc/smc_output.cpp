#include "smc/smc_output.h"

#include <cstdio>
#include <map>
#include <mutex>
#include <string>

namespace brivane {

SMCLineSink standardOutputLineSink() {
    return [](std::string_view line) {
        std::string text;
        text.reserve(line.size() + 1);
        text.append(line);
        text.push_back('\n');
        // A line that cannot be written is dropped: there is nowhere else to say so.
        (void)std::fwrite(text.data(), 1, text.size(), stdout);
        (void)std::fflush(stdout);
    };
}

namespace {

class RepeatLimiter {
public:
    RepeatLimiter(SMCLineSink inner, std::shared_ptr<const platform::UptimeClock> clock,
                  double interval)
        : inner_(std::move(inner)), clock_(std::move(clock)), interval_(interval) {}

    void operator()(std::string_view line) {
        std::string shown;
        {
            const std::lock_guard lock(mutex_);
            const double now = clock_->uptime();
            auto found = lines_.find(line);
            if (found == lines_.end()) {
                // Lines name keys, so there are few distinct ones; a runaway set is forgotten
                // rather than grown without bound.
                if (lines_.size() >= kMaximumLines) {
                    lines_.clear();
                }
                lines_.emplace(std::string(line), Seen{now, 0});
                shown = line;
            } else if (now - found->second.lastShown < interval_) {
                ++found->second.heldBack;
                return;
            } else {
                shown = line;
                if (found->second.heldBack > 0) {
                    shown += " (repeated " + std::to_string(found->second.heldBack) +
                             " times since last shown)";
                }
                found->second = Seen{now, 0};
            }
        }
        if (inner_) {
            inner_(shown);
        }
    }

private:
    struct Seen {
        double lastShown = 0;
        unsigned long long heldBack = 0;
    };
    static constexpr std::size_t kMaximumLines = 1024;

    SMCLineSink inner_;
    std::shared_ptr<const platform::UptimeClock> clock_;
    double interval_;
    std::mutex mutex_;
    std::map<std::string, Seen, std::less<>> lines_;
};

} // namespace

SMCLineSink repeatLimitedLineSink(SMCLineSink inner,
                                  std::shared_ptr<const platform::UptimeClock> clock,
                                  double interval) {
    // std::function needs a copyable target; the limiter itself holds a mutex.
    auto limiter = std::make_shared<RepeatLimiter>(std::move(inner), std::move(clock), interval);
    return [limiter](std::string_view line) { (*limiter)(line); };
}

} // namespace brivane
