#pragma once

#include "platform/process_table.h"

#include <map>
#include <mutex>

namespace brivane::platform::sim {

// One simulated process. A process without a usage record behaves like one whose record
// cannot be read; one without a name like one the name call fails for.
struct SimProcess {
    std::optional<std::string> name;
    std::optional<ProcessResourceUsage> usage;
};

// A process table whose contents are set by hand: pids, names, footprints, counters and
// start times. Safe to change from one thread while another reads.
class SimProcessTable final : public ProcessTable {
public:
    explicit SimProcessTable(int32_t ownPid = 4242, uint32_t uid = 501, uint32_t euid = 501);

    void set(int32_t pid, SimProcess process);
    void remove(int32_t pid);
    void clear();
    // Changes the counters of a process already present; no-op otherwise.
    void addTraffic(int32_t pid, uint64_t readBytes, uint64_t writtenBytes);
    void setListingFails(bool fails);

    std::vector<int32_t> allPids() const override;
    std::optional<ProcessResourceUsage> resourceUsage(int32_t pid) const override;
    std::optional<std::string> name(int32_t pid) const override;
    int32_t ownPid() const override { return ownPid_; }
    uint32_t realUserID() const override { return uid_; }
    uint32_t effectiveUserID() const override { return euid_; }

private:
    mutable std::mutex mutex_;
    std::map<int32_t, SimProcess> processes_;
    bool listingFails_ = false;
    int32_t ownPid_;
    uint32_t uid_;
    uint32_t euid_;
};

} // namespace brivane::platform::sim
