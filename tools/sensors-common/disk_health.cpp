#include "disk_health.h"

#include "backends/posix/kernel_files/sysfs_reading.h"
#include "backends/posix/system/replaced_file.h"
#include "base/serial_queue.h"
#include "disk-names/disk_names.h"
#include "formats/document_codec.h"

#include <ctime>
#include <sstream>

namespace brivane::cli {

DiskHealthWatch::DiskHealthWatch(AgentConnection connection, std::string sysRoot,
                                 std::chrono::steady_clock::duration interval)
    : connection_(std::move(connection)), sysRoot_(std::move(sysRoot)), interval_(interval),
      latest_(std::make_shared<const DiskHealthList>()),
      queue_(std::make_unique<base::SerialQueue>("dev.qorva.brivane.export.disks")) {}

DiskHealthWatch::~DiskHealthWatch() {
    stopping_ = true; // a round in progress asks no further disk
    queue_.reset();
}

std::shared_ptr<const DiskHealthList> DiskHealthWatch::latest() {
    const std::lock_guard lock(mutex_);
    const auto now = std::chrono::steady_clock::now();
    if (!running_ && (!started_ || now - *started_ >= interval_)) {
        running_ = true;
        started_ = now;
        queue_->async([this] { round(); });
    }
    return latest_;
}

void DiskHealthWatch::round() {
    auto found = std::make_shared<const DiskHealthList>(
        askDiskHealth(connection_, sysRoot_, [this] { return stopping_.load(); }));
    const std::lock_guard lock(mutex_);
    latest_ = std::move(found);
    running_ = false;
}

DiskHealthList askDiskHealth(AgentConnection& connection, const std::string& sysRoot,
                             const std::function<bool()>& stop) {
    const platform::posix::RootedDirectory sys(sysRoot);
    const auto disks = system_tools::wholeDisks(sys.list("block"));
    DiskHealthList found;
    for (std::size_t i = 0; i < disks.size() && !(stop && stop()); ++i) {
        const auto answer = connection.ask(ipc::Selector::storageHealth, system_tools::diskName(i));
        const auto health =
            answer.status == answered ? decodeStorageHealthSnapshot(answer.text) : std::nullopt;
        // A disk that came or went since the listing shifts the names: its figures are left out.
        if (health && health->reading && health->reading->device == disks[i]) {
            found.push_back({disks[i], *health->reading});
        }
    }
    return found;
}

namespace {

// The kept file: the time it was asked (seconds since 1970), then one document per line.
constexpr std::size_t keptLimit = 256 * 1024;
constexpr std::time_t keptFor = 60;

std::optional<DiskHealthList> readKept(const std::string& cacheFile, std::time_t now) {
    const auto slash = cacheFile.rfind('/');
    const platform::posix::RootedDirectory folder(cacheFile.substr(0, slash + 1));
    const auto text = folder.readText(cacheFile.substr(slash + 1).c_str(), keptLimit);
    if (!text) {
        return std::nullopt;
    }
    std::istringstream lines(*text);
    std::string line;
    long long asked = 0;
    if (!std::getline(lines, line) || !(std::istringstream(line) >> asked) || asked > now ||
        now - asked >= keptFor) {
        return std::nullopt;
    }
    DiskHealthList kept;
    while (std::getline(lines, line)) {
        const auto health = decodeStorageHealthSnapshot(line);
        if (!health || !health->reading || !health->reading->device) {
            return std::nullopt;
        }
        kept.push_back({*health->reading->device, *health->reading});
    }
    return kept;
}

} // namespace

DiskHealthList keptDiskHealth(AgentConnection& connection, const std::string& cacheFile,
                              const std::string& sysRoot) {
    const auto now = std::time(nullptr);
    if (auto kept = readKept(cacheFile, now)) {
        return std::move(*kept);
    }
    auto found = askDiskHealth(connection, sysRoot);
    std::string text = std::to_string(now) + "\n";
    for (const auto& disk : found) {
        text += encode(StorageHealthSnapshot{disk.reading, 0, 0}) + "\n";
    }
    platform::posix::replaceFile(cacheFile, text, 0600);
    return found;
}

} // namespace brivane::cli
