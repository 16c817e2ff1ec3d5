#include "backends/linux/gpu/drm_clients.h"

#include "backends/linux/gpu/drm_fdinfo.h"
#include "backends/posix/kernel_files/proc_fields.h"

#include <algorithm>
#include <map>
#include <set>
#include <sys/stat.h>

namespace brivane::platform::linux_backend {

namespace {

constexpr std::size_t fdinfoLimit = 16384;

// "card1" by the address of its device: class/drm/cardN links to .../<address>/drm/cardN.
std::map<std::string, std::string> cardsByAddress(const posix::RootedDirectory& sys) {
    std::map<std::string, std::string> cards;
    for (const std::string& name : sys.list("class/drm")) {
        if (!name.starts_with("card") || name.find('-') != std::string::npos)
            continue;
        const auto target = sys.linkTarget(("class/drm/" + name).c_str());
        if (!target)
            continue;
        std::string_view path(*target);
        for (int up = 0; up < 2 && path.rfind('/') != std::string_view::npos; ++up)
            path = path.substr(0, path.rfind('/'));
        const auto slash = path.rfind('/');
        const std::string address(slash == std::string_view::npos ? path : path.substr(slash + 1));
        cards.emplace(address, name); // the first card of a device names it
    }
    return cards;
}

void add(GpuClientUse& use, const DrmClientUsage& client) {
    for (const auto& [engine, nanoseconds] : client.engineNanoseconds)
        use.busyNanoseconds[engine] += nanoseconds;
    for (const auto& [engine, busy] : client.cycles) {
        const auto total = client.totalCycles.find(engine);
        if (total == client.totalCycles.end())
            continue;
        auto& [busySum, totalSum] = use.cycles[engine];
        busySum += busy;
        totalSum = std::max(totalSum, total->second); // one clock for a card's clients
    }
    if (const auto bytes = client.residentBytes ? client.residentBytes : client.totalBytes)
        use.memoryBytes = use.memoryBytes.value_or(0) + *bytes;
}

} // namespace

DrmClients::DrmClients(std::string procRoot, std::string sysRoot, std::optional<uid_t> owner,
                       std::shared_ptr<NvmlSession> nvml)
    : proc_(std::move(procRoot)), sys_(std::move(sysRoot)), owner_(owner), nvml_(std::move(nvml)) {}

std::vector<GpuClientUse> DrmClients::look() const {
    const posix::RootedDirectory proc(proc_), sys(sys_);
    const auto cards = cardsByAddress(sys);
    std::vector<int32_t> pids = proc.valid() ? posix::processIds(proc) : std::vector<int32_t>{};
    std::sort(pids.begin(), pids.end());

    std::map<std::pair<int32_t, std::string>, GpuClientUse> uses; // by pid and address
    std::set<std::pair<std::string, std::uint64_t>> counted;      // address, client id
    for (const int32_t pid : pids) {
        const std::string process = std::to_string(pid);
        struct stat status {};
        if (owner_ &&
            (::stat((proc_ + "/" + process).c_str(), &status) != 0 || status.st_uid != *owner_))
            continue;
        std::vector<std::string> descriptors = proc.list((process + "/fd").c_str());
        descriptors.resize(std::min(descriptors.size(), maximumDescriptors));
        for (const std::string& fd : descriptors) {
            const auto target = proc.linkTarget((process + "/fd/" + fd).c_str());
            if (!target || !target->starts_with("/dev/dri/"))
                continue;
            const auto text = proc.readText((process + "/fdinfo/" + fd).c_str(), fdinfoLimit);
            const auto client = text ? parseDrmFdinfo(*text) : std::nullopt;
            if (!client)
                continue;
            const std::string address = client->pciAddress.value_or("");
            if (client->clientId && !counted.emplace(address, *client->clientId).second)
                continue;
            GpuClientUse& use = uses[{pid, address}];
            use.pid = pid;
            use.pciAddress = address;
            if (const auto card = cards.find(address); card != cards.end())
                use.card = card->second;
            add(use, *client);
        }
    }
    std::vector<GpuClientUse> out;
    out.reserve(uses.size());
    for (auto& [key, use] : uses)
        out.push_back(std::move(use));
    if (nvml_) {
        for (const auto& [address, card] : cards) {
            for (const NvmlProcess& process : nvml_->processes(address)) {
                GpuClientUse use;
                use.pid = process.pid;
                use.card = card;
                use.pciAddress = address;
                for (const auto& [engine, percent] : process.enginePercent)
                    use.busyShare[engine] = percent / 100;
                use.memoryBytes = process.memoryBytes;
                out.push_back(std::move(use));
            }
        }
    }
    return out;
}

} // namespace brivane::platform::linux_backend
