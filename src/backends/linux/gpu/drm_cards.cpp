#include "backends/linux/gpu/drm_cards.h"

#include "backends/linux/polling/counter_file.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <mutex>

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

namespace {

enum class Source { busyPercent, idleResidency, nvml, none };

// What the library told of a card at its probe's latest read, other than the busy share.
struct LibraryFigures {
    std::mutex mutex;
    NvmlFigures figures;
};

// One card's files and what its probe remembers between reads; only its lane touches it.
struct CardFiles {
    Source source = Source::none;
    std::string pciAddress;
    posix::KeptValue runtimeStatus;
    std::vector<posix::KeptValue> files;
    std::shared_ptr<NvmlSession> nvml;
    std::shared_ptr<LibraryFigures> library = std::make_shared<LibraryFigures>();
    std::vector<std::uint64_t> lastIdle; // per GT; empty before the first look
    std::chrono::steady_clock::time_point lastLook;
    std::optional<double> lastPercent;
};

bool suspended(const posix::KeptValue& runtimeStatus) {
    std::array<char, 64> buffer;
    const posix::FileText status = runtimeStatus.readInto(buffer);
    return status.outcome == posix::Outcome::value &&
           posix::withoutNewline(status.text) == "suspended";
}

// The busy share, and for a card the library reads its other figures, kept aside.
std::optional<double> readCard(CardFiles& card) {
    if (suspended(card.runtimeStatus)) {
        card.lastIdle.clear(); // its counters may stand still while it sleeps
        card.lastPercent.reset();
        if (card.nvml)
            card.nvml->asleep(card.pciAddress);
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
    case Source::nvml: {
        auto figures = card.nvml->read(card.pciAddress).value_or(NvmlFigures{});
        const auto percent = figures.utilizationPercent;
        const std::lock_guard lock(card.library->mutex);
        card.library->figures = figures;
        return percent;
    }
    case Source::none:
        break;
    }
    return std::nullopt;
}

constexpr double kMilli = 1000; // the busy probes' unit: thousandths of a percent
// A library card's probe that read figures but no busy share: its figures are fresh.
constexpr std::int64_t kFiguresOnly = -1;

// "temp1_input" -> 1 for stem "temp" and item "input".
std::optional<int> channelNumber(std::string_view file, std::string_view stem,
                                 std::string_view item) {
    if (!file.starts_with(stem) || !file.ends_with(item) ||
        file.size() <= stem.size() + item.size() + 1 || file[file.size() - item.size() - 1] != '_')
        return std::nullopt;
    const auto digits = file.substr(stem.size(), file.size() - stem.size() - item.size() - 1);
    const auto number = posix::parseInteger(digits);
    return number && digits.find_first_not_of("0123456789") == std::string_view::npos
               ? std::optional(static_cast<int>(*number))
               : std::nullopt;
}

// The lowest-numbered "<stem>N_<item>" of a folder's files.
std::optional<std::string> firstChannelFile(const std::vector<std::string>& files,
                                            std::string_view stem, std::string_view item) {
    std::optional<std::pair<int, std::string>> first;
    for (const auto& file : files)
        if (const auto number = channelNumber(file, stem, item); number && *number < 1000000)
            if (!first || *number < first->first)
                first.emplace(*number, file);
    return first ? std::optional(first->second) : std::nullopt;
}

} // namespace

struct DrmCards::Card {
    std::string card;
    std::string pciAddress;
    std::string driver;
    std::optional<std::size_t> busy;   // thousandths of a percent, or kFiguresOnly
    std::optional<std::size_t> asleep; // 1 while suspended
    std::optional<std::size_t> memoryUsed, memoryTotal, microwatts, millidegrees;
    std::shared_ptr<LibraryFigures> library; // a library card's other figures
};

DrmCards DrmCards::discover(ChannelSet& channels, const std::shared_ptr<NvmlSession>& nvml,
                            const std::shared_ptr<CardActivity>& activity) {
    const posix::RootedDirectory& sys = channels.root();
    DrmCards cards;
    for (const auto& name : sys.list("class/drm")) {
        if (!isCard(name))
            continue;
        const std::string card = "class/drm/" + name;
        const std::string device = card + "/device";
        auto found = std::make_shared<CardFiles>();
        auto entry = std::make_shared<Card>();
        entry->card = name;
        entry->driver = driverOf(sys, device);
        const std::string& driver = entry->driver;
        // class/drm/cardN -> ../../devices/pci…/0000:01:00.0/drm/cardN, device -> ../..
        const auto cardPath = sys.linkTarget(card.c_str());
        const auto resolved = cardPath ? resolveLink("class/drm", *cardPath) : std::nullopt;
        const auto target = sys.linkTarget(device.c_str());
        if (const auto path = resolved && target ? resolveLink(*resolved, *target) : std::nullopt)
            found->pciAddress = path->substr(path->rfind('/') + 1);
        entry->pciAddress = found->pciAddress;
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
        if (found->source == Source::idleResidency && found->files.empty())
            found->source = Source::none;
        const auto hwmon = entriesStartingWith(sys, device + "/hwmon", "hwmon");
        if (found->source == Source::none && hwmon.empty())
            continue;

        const std::string status = device + "/power/runtime_status";
        found->runtimeStatus = posix::KeptValue(sys, status.c_str(), channels.pread());
        if (found->runtimeStatus.isOpen()) {
            auto sleeping =
                std::make_shared<posix::KeptValue>(sys, status.c_str(), channels.pread());
            entry->asleep = channels.addProbe(
                card + "/asleep", {}, [sleeping]() -> posix::Reading<std::int64_t> {
                    return {posix::Outcome::value, suspended(*sleeping) ? 1 : 0};
                });
        }
        if (found->source != Source::none) {
            const bool library = found->source == Source::nvml;
            if (library)
                entry->library = found->library;
            entry->busy = channels.addProbe(
                card + (library ? "/nvml" : "/utilization"), ChannelPace{.slow = library},
                [found, activity, library]() -> posix::Reading<std::int64_t> {
                    const auto percent = readCard(*found);
                    if (activity)
                        activity->note(found->pciAddress, percent);
                    if (!percent)
                        return library ? posix::Reading<std::int64_t>{posix::Outcome::value,
                                                                      kFiguresOnly}
                                       : posix::Reading<std::int64_t>{};
                    return {posix::Outcome::value, std::llround(*percent * kMilli)};
                });
        }
        // The card's own figures, never read while it sleeps.
        const auto guard = channels.runtimeSuspend(status);
        if (driver == "amdgpu") {
            entry->memoryUsed = channels.add(device + "/mem_info_vram_used", {}, guard);
            entry->memoryTotal = channels.add(device + "/mem_info_vram_total", {}, guard);
        }
        if (!hwmon.empty()) {
            const std::string chip = device + "/hwmon/" + hwmon.front();
            const auto files = sys.list(chip.c_str());
            if (const auto temperature = firstChannelFile(files, "temp", "input"))
                entry->millidegrees = channels.add(chip + "/" + *temperature, {}, guard);
            auto power = firstChannelFile(files, "power", "input");
            if (!power)
                power = firstChannelFile(files, "power", "average");
            if (power)
                entry->microwatts = channels.add(chip + "/" + *power, {}, guard);
        }
        cards.cards_.push_back(std::move(entry));
    }
    return cards;
}

std::vector<CardReading> DrmCards::read(const ChannelSet& channels) const {
    std::vector<CardReading> cards;
    cards.reserve(cards_.size());
    const auto value = [&](const std::optional<std::size_t>& channel) {
        return channel ? channels.value(*channel) : std::nullopt;
    };
    for (const auto& card : cards_) {
        CardReading& reading = cards.emplace_back();
        reading.card = card->card;
        reading.pciAddress = card->pciAddress;
        reading.driver = card->driver;
        reading.asleep = value(card->asleep) == 1;
        const auto busy = value(card->busy);
        if (busy && *busy >= 0)
            reading.percent = static_cast<double>(*busy) / kMilli;
        if (reading.asleep) {
            reading.percent = 0.0;
            continue;
        }
        if (card->library) {
            if (busy) {
                const std::lock_guard lock(card->library->mutex);
                const NvmlFigures& figures = card->library->figures;
                reading.memoryUsed = figures.memoryUsed;
                reading.memoryTotal = figures.memoryTotal;
                reading.watts = figures.watts;
                reading.celsius = figures.celsius;
            }
            continue;
        }
        reading.memoryUsed = value(card->memoryUsed);
        reading.memoryTotal = value(card->memoryTotal);
        if (const auto microwatts = value(card->microwatts))
            reading.watts = static_cast<double>(*microwatts) / 1e6;
        if (const auto millidegrees = value(card->millidegrees))
            reading.celsius = static_cast<double>(*millidegrees) / 1e3;
    }
    std::stable_sort(cards.begin(), cards.end(), [](const auto& a, const auto& b) {
        return a.percent.value_or(-1) > b.percent.value_or(-1);
    });
    return cards;
}

} // namespace brivane::platform::linux_backend
