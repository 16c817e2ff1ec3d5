#include "machine_collection.h"

#include <algorithm>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>

namespace brivane::cli {
namespace {

// -1 when there is no such folder.
long long folderOwner(const std::string& folder) {
    struct stat status {};
    if (::stat(folder.c_str(), &status) != 0 || !S_ISDIR(status.st_mode)) {
        return -1;
    }
    return status.st_uid;
}

constexpr std::string_view ownFamilies[] = {
    "brivane_up", "brivane_scrape_duration_seconds", "brivane_agent_loader_altered",
    "brivane_companion_info", "brivane_process_energy_impact"};

} // namespace

bool machineCollectedElsewhere(const std::string& folder) {
    const auto owner = folderOwner(folder);
    return owner >= 0 && owner != ::geteuid();
}

bool machineCollectionAccount(const std::string& folder) {
    return folderOwner(folder) == ::geteuid();
}

void keepOwnFamilies(std::vector<MetricFamily>& families) {
    std::erase_if(families, [](const MetricFamily& family) {
        return std::find(std::begin(ownFamilies), std::end(ownFamilies), family.name) ==
               std::end(ownFamilies);
    });
}

} // namespace brivane::cli
