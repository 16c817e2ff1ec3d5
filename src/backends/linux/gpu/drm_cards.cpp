#include "backends/linux/gpu/drm_cards.h"

#include "backends/linux/polling/counter_file.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>

namespace brivane::platform::linux_backend {

namespace {

// Below this, a look reuses the last figure: a share of a few milliseconds says little.
constexpr double shortestInterval = 100; // ms

bool isCard(std::string_view name) {
    // "card0", not its connectors ("card0-DP-1") nor render nodes.
    return name.size() > 4 && name.starts_with("card") &&
           std::all_of(name.begin() + 4, name.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// The DRIVER= line of a device's uevent file.
std::string driverOf(const posix::RootedDirectory& sys, const std::string& device) {
    const auto uevent = sys.readText((device + "/uevent").c_str());
    if (uevent) {
        constexpr std::string_view prefix = "DRIVER=";
        std::string_view rest = *uevent;
        while (!rest.empty()) {
            const auto end = rest.find('\n');
            const std::string_view line = rest.substr(0, end);
            if (line.starts_with(prefix) && line.size() > prefix.size())
                return std::string(line.substr(prefix.size()));
            rest.remove_prefix(end == std::string_view::npos ? rest.size() : end + 1);
        }
    }
    return "drm";
}

std::vector<std::string> entriesStartingWith(const posix::RootedDirectory& sys,
                                             const std::string& folder, std::string_view prefix) {
    std::vector<std::string> entries = sys.list(folder.c_str());
    std::erase_if(entries, [&](const std::string& entry) { return !entry.starts_with(prefix); });
    return entries;
}

} // namespace

std::optional<double> busyFromIdle(std::uint64_t idleBefore, std::uint64_t idleAfter,
                                   double elapsedMilliseconds) {
    if (!(elapsedMilliseconds > 0))
        return std::nullopt;
    // A counter that went back (a driver reload) says nothing of the interval.
    if (idleAfter < idleBefore)
        return std::nullopt;
    const double idle = static_cast<double>(idleAfter - idleBefore) / elapsedMilliseconds;
    return std::clamp(1.0 - idle, 0.0, 1.0);
}

std::optional<double> NvmlLoader::utilizationPercent(const std::string& pciAddress) {
    const std::lock_guard lock(mutex_);
    if (!tried_) {
        tried_ = true; // loaded once, and only when a card is awake
        library_ = NvmlLibrary::load(name_);
    }
    return library_ ? library_->utilizationPercent(pciAddress) : std::nullopt;
}

namespace {

enum class Source { busyPercent, idleResidency, nvml, none };

// One card's files and what its probe remembers between reads; only its lane touches it.
struct CardFiles {
    Source source = Source::none;
    std::string pciAddress;
    posix::KeptValue runtimeStatus;
    std::vector<posix::KeptValue> files;
    std::shared_ptr<NvmlLoader> nvml;
    std::vector<std::uint64_t> lastIdle; // per GT; empty before the first look
    std::chrono::steady_clock::time_point lastLook;
    std::optional<double> lastPercent;
};

std::optional<double> readCard(CardFiles& card) {
    std::array<char, 64> buffer;
    const posix::FileText status = card.runtimeStatus.readInto(buffer);
    if (status.outcome == posix::Outcome::value &&
        posix::withoutNewline(status.text) == "suspended") {
        card.lastIdle.clear(); // its counters may stand still while it sleeps
        card.lastPercent.reset();
        return 0.0;
    }
    switch (card.source) {
    case Source::busyPercent: {
        const auto percent = card.files.front().read().value;
        if (!percent || *percent < 0 || *percent > 100)
            return std::nullopt;
        return static_cast<double>(*percent);
    }
    case Source::idleResidency: {
        std::vector<std::uint64_t> idle;
        idle.reserve(card.files.size());
        for (const posix::KeptValue& file : card.files) {
            const auto value = file.readCounter().value;
            if (!value)
                return card.lastPercent;
            idle.push_back(*value);
        }
        const auto now = std::chrono::steady_clock::now();
        const double elapsed =
            std::chrono::duration<double, std::milli>(now - card.lastLook).count();
        if (!card.lastIdle.empty() && elapsed < shortestInterval)
            return card.lastPercent;
        if (card.lastIdle.size() == idle.size()) {
            // The busiest GT: render and media engines work apart, and a game's render load
            // is the card's load whatever the media GT does.
            std::optional<double> busiest;
            for (std::size_t gt = 0; gt < idle.size(); ++gt)
                if (const auto busy = busyFromIdle(card.lastIdle[gt], idle[gt], elapsed))
                    busiest = std::max(busiest.value_or(0), *busy);
            card.lastPercent = busiest ? std::optional<double>(*busiest * 100) : std::nullopt;
        }
        card.lastIdle = std::move(idle);
        card.lastLook = now;
        return card.lastPercent;
    }
    case Source::nvml:
        return card.nvml->utilizationPercent(card.pciAddress);
    case Source::none:
        break;
    }
    return std::nullopt;
}

constexpr double kMilli = 1000; // the probes' unit: thousandths of a percent

} // namespace

DrmCards DrmCards::discover(ChannelSet& channels, const std::shared_ptr<NvmlLoader>& nvml,
                            const std::shared_ptr<CardActivity>& activity) {
    const posix::RootedDirectory& sys = channels.root();
    DrmCards cards;
    for (const auto& name : sys.list("class/drm")) {
        if (!isCard(name))
            continue;
        const std::string card = "class/drm/" + name;
        const std::string device = card + "/device";
        std::string driver = driverOf(sys, device);
        auto found = std::make_shared<CardFiles>();
        // class/drm/cardN -> ../../devices/pci…/0000:01:00.0/drm/cardN, device -> ../..
        const auto cardPath = sys.linkTarget(card.c_str());
        const auto resolved = cardPath ? resolveLink("class/drm", *cardPath) : std::nullopt;
        const auto target = sys.linkTarget(device.c_str());
        if (const auto path = resolved && target ? resolveLink(*resolved, *target) : std::nullopt)
            found->pciAddress = path->substr(path->rfind('/') + 1);
        // Opening a file wakes no card; reading some does, so nothing is read here.
        const auto keep = [&](const std::string& path) {
            posix::KeptValue file(sys, path.c_str(), channels.pread());
            if (file.isOpen())
                found->files.push_back(std::move(file));
        };
        keep(device + "/gpu_busy_percent");
        if (!found->files.empty()) {
            found->source = Source::busyPercent;
        } else if (driver == "i915") {
            for (const auto& gt : entriesStartingWith(sys, card + "/gt", "gt"))
                keep(card + "/gt/" + gt + "/rc6_residency_ms");
            if (found->files.empty())
                keep(card + "/power/rc6_residency_ms");
            found->source = Source::idleResidency;
        } else if (driver == "xe") {
            for (const auto& tile : entriesStartingWith(sys, device, "tile"))
                for (const auto& gt : entriesStartingWith(sys, device + "/" + tile, "gt"))
                    keep(device + "/" + tile + "/" + gt + "/gtidle/idle_residency_ms");
            found->source = Source::idleResidency;
        } else if (driver == "nvidia" && !found->pciAddress.empty()) {
            found->source = Source::nvml;
            found->nvml = nvml;
        }
        if (found->source == Source::none ||
            (found->source == Source::idleResidency && found->files.empty()))
            continue;
        found->runtimeStatus =
            posix::KeptValue(sys, (device + "/power/runtime_status").c_str(), channels.pread());
        const bool library = found->source == Source::nvml;
        const std::size_t channel = channels.addProbe(
            card + (library ? "/nvml" : "/utilization"), ChannelPace{.slow = library},
            [found, activity]() -> posix::Reading<std::int64_t> {
                const auto percent = readCard(*found);
                if (activity)
                    activity->note(found->pciAddress, percent);
                if (!percent)
                    return {};
                return {posix::Outcome::value, std::llround(*percent * kMilli)};
            });
        cards.cards_.push_back({std::move(driver), channel});
    }
    return cards;
}

std::vector<CardUtilization> DrmCards::read(const ChannelSet& channels) const {
    std::vector<CardUtilization> cards;
    cards.reserve(cards_.size());
    for (const Card& card : cards_) {
        const auto value = channels.value(card.channel);
        cards.push_back({card.driver, value ? std::optional(static_cast<double>(*value) / kMilli)
                                            : std::nullopt});
    }
    std::stable_sort(cards.begin(), cards.end(), [](const auto& a, const auto& b) {
        return a.percent.value_or(-1) > b.percent.value_or(-1);
    });
    return cards;
}

} // namespace brivane::platform::linux_backend
