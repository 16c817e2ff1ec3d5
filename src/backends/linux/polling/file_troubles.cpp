#include "backends/linux/polling/file_troubles.h"

#include <algorithm>

namespace brivane::platform::linux_backend {

FileTroubles::Step FileTroubles::note(const std::string& path, posix::Outcome outcome, double now) {
    if (outcome == posix::Outcome::value) {
        files_.erase(path);
        return Step::none;
    }
    if (outcome != posix::Outcome::gone && outcome != posix::Outcome::denied) {
        return Step::none; // no value this time, which says nothing about the file
    }
    auto [entry, added] = files_.try_emplace(path);
    Trouble& trouble = entry->second;
    if (trouble.retired) {
        return Step::none;
    }
    if (added) {
        trouble.since = now;
    }
    ++trouble.failures;
    if (trouble.failures >= rules_.failures && now - trouble.since >= rules_.over) {
        trouble.retired = true;
        trouble.wait = rules_.firstLook;
        trouble.lookAt = now + trouble.wait;
        return Step::retire;
    }
    return outcome == posix::Outcome::gone ? Step::lookForIt : Step::none;
}

bool FileTroubles::retired(std::string_view path) const {
    const auto found = files_.find(path);
    return found != files_.end() && found->second.retired;
}

bool FileTroubles::lookDue(std::string_view path, double now) const {
    const auto found = files_.find(path);
    return found != files_.end() && found->second.retired && found->second.lookAt <= now;
}

void FileTroubles::lookedAgain(std::string_view path, bool answered, double now) {
    const auto found = files_.find(path);
    if (found == files_.end()) {
        return;
    }
    if (answered) {
        files_.erase(found);
        return;
    }
    Trouble& trouble = found->second;
    trouble.wait = std::min(2 * trouble.wait, rules_.longestLook);
    trouble.lookAt = now + trouble.wait;
}

void FileTroubles::keepOnly(const std::set<std::string, std::less<>>& paths) {
    std::erase_if(files_, [&paths](const auto& entry) { return !paths.contains(entry.first); });
}

std::size_t FileTroubles::retiredCount() const {
    return static_cast<std::size_t>(std::count_if(
        files_.begin(), files_.end(), [](const auto& entry) { return entry.second.retired; }));
}

} // namespace brivane::platform::linux_backend
