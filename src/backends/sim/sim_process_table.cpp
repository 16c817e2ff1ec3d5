#include "backends/sim/sim_process_table.h"

namespace brivane::platform::sim {

SimProcessTable::SimProcessTable(int32_t ownPid, uint32_t uid, uint32_t euid)
    : ownPid_(ownPid), uid_(uid), euid_(euid) {}

void SimProcessTable::set(int32_t pid, SimProcess process) {
    std::lock_guard lock(mutex_);
    processes_[pid] = std::move(process);
}

void SimProcessTable::remove(int32_t pid) {
    std::lock_guard lock(mutex_);
    processes_.erase(pid);
}

void SimProcessTable::clear() {
    std::lock_guard lock(mutex_);
    processes_.clear();
}

void SimProcessTable::addTraffic(int32_t pid, uint64_t readBytes, uint64_t writtenBytes) {
    std::lock_guard lock(mutex_);
    auto found = processes_.find(pid);
    if (found == processes_.end() || !found->second.usage)
        return;
    found->second.usage->diskBytesRead += readBytes;
    found->second.usage->logicalBytesWritten += writtenBytes;
}

void SimProcessTable::setListingFails(bool fails) {
    std::lock_guard lock(mutex_);
    listingFails_ = fails;
}

std::vector<int32_t> SimProcessTable::allPids() const {
    std::lock_guard lock(mutex_);
    std::vector<int32_t> pids;
    if (listingFails_)
        return pids;
    pids.reserve(processes_.size());
    for (const auto& [pid, process] : processes_)
        pids.push_back(pid);
    return pids;
}

std::optional<ProcessResourceUsage> SimProcessTable::resourceUsage(int32_t pid) const {
    std::lock_guard lock(mutex_);
    auto found = processes_.find(pid);
    if (found == processes_.end())
        return std::nullopt;
    return found->second.usage;
}

std::optional<std::string> SimProcessTable::name(int32_t pid) const {
    std::lock_guard lock(mutex_);
    auto found = processes_.find(pid);
    if (found == processes_.end() || !found->second.name || found->second.name->empty())
        return std::nullopt;
    return found->second.name->substr(0, processNameCapacity);
}

} // namespace brivane::platform::sim
