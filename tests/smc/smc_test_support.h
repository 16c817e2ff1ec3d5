#pragma once

#include "backends/sim/sim_smc.h"
#include "smc/smc.h"

#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace brivane::testing {

using platform::sim::simKey;
using platform::sim::SimSMC;
using platform::sim::SimSMCFault;

// Lines the SMC printed, collected from any thread.
class CapturedLines {
public:
    SMCLineSink sink() {
        return [this](std::string_view line) {
            const std::lock_guard lock(mutex_);
            lines_.emplace_back(line);
        };
    }
    std::vector<std::string> take() {
        const std::lock_guard lock(mutex_);
        return std::exchange(lines_, {});
    }

private:
    std::mutex mutex_;
    std::vector<std::string> lines_;
};

// A simulated SMC with the given keys and an SMC connected to it.
struct SMCHarness {
    explicit SMCHarness(std::vector<platform::sim::SimSMCKey> keys = {})
        : sim(std::make_shared<SimSMC>(std::move(keys))),
          smc(std::make_unique<SMC>(sim, lines.sink())) {}

    std::uint64_t keyInfoRequests() const {
        return sim->exchanges(rawValue(platform::SMCKeys::readKeyInfo));
    }
    std::uint64_t byteRequests() const {
        return sim->exchanges(rawValue(platform::SMCKeys::readBytes));
    }
    std::uint64_t indexRequests() const {
        return sim->exchanges(rawValue(platform::SMCKeys::readIndex));
    }

    CapturedLines lines;
    std::shared_ptr<SimSMC> sim;
    std::unique_ptr<SMC> smc;
};

} // namespace brivane::testing
