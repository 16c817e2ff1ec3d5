#include "backends/linux/power/energy_channels.h"

#include "backends/linux/hwmon/hwmon_naming.h"
#include "backends/linux/hwmon/hwmon_tree.h"
#include "backends/linux/polling/counter_file.h"
#include "backends/linux/power/energy_counters.h"
#include "base/whole_number.h"

#include <algorithm>
#include <array>
#include <map>

namespace brivane::platform::linux_backend {

namespace {

constexpr std::string_view energyGroup = "Energy Model";
constexpr std::uint64_t cpuEnergyID = 1, gpuEnergyID = 2, firstCounterID = 0x100;
// Stands for every channel of the group while its first discovery has not finished: the reader
// sets up once, and a late discovery must not leave it without energy for good.
constexpr std::uint64_t wholeGroupID = 0xff;

bool namesWholeGroup(const IOReportChannelList& channels) {
    return std::any_of(channels.begin(), channels.end(), [](const IOReportChannel& channel) {
        return channel.channelID == wholeGroupID;
    });
}
// Graphics drivers whose hwmon chip may carry an energy counter.
constexpr std::array<std::string_view, 5> graphicsChips = {"amdgpu", "i915", "nouveau", "radeon",
                                                           "xe"};

using Plan = EnergyChannels::Plan;

using Catalog = EnergyChannels::Catalog;

class EnergyReader final : public GroupReader {
public:
    struct Channel {
        Plan plan;
        // Last raw value and unwrapped total of each counter, advanced by every sample.
        std::vector<std::uint64_t> raw, total;
        std::vector<bool> primed;
        std::uint64_t busiest = 0; // with cards: the busiest card's advances, summed
    };
    static Channel fresh(const Plan& plan) {
        const std::size_t counters = plan.counterFiles.size();
        return {plan, std::vector<std::uint64_t>(counters), std::vector<std::uint64_t>(counters),
                std::vector<bool>(counters)};
    }

    EnergyReader(CatalogPoller<Catalog>& poller, std::shared_ptr<const CardActivity> cards,
                 std::vector<Channel> channels)
        : poller_(poller), cards_(std::move(cards)), channels_(std::move(channels)) {
        for (const Channel& channel : channels_)
            descriptions_.push_back(channel.plan.description);
    }
    // Subscribed to the whole group: each sample has what the latest catalogue has.
    EnergyReader(CatalogPoller<Catalog>& poller, std::shared_ptr<const CardActivity> cards)
        : poller_(poller), cards_(std::move(cards)), descriptions_{wholeGroup()},
          wholeGroup_(true) {}

    static IOReportChannel wholeGroup() {
        IOReportChannel group;
        group.channelID = wholeGroupID;
        group.unit = "uJ";
        return group;
    }

    const IOReportChannelList& channels() const override { return descriptions_; }

    void sample(const IOReportChannelList& wanted, IOReportChannelList& out) override {
        const auto catalog = poller_.current();
        if (!catalog)
            return;
        if (wholeGroup_) {
            sampleWholeGroup(*catalog, wanted, out);
            return;
        }
        for (const IOReportChannel& want : wanted)
            for (Channel& channel : channels_)
                if (channel.plan.description.channelID == want.channelID) {
                    if (auto values = sampleCounters(*catalog->channels, channel))
                        out.push_back(std::move(*values));
                    break;
                }
    }

private:
    // Channels are kept by name, as a discovery may number them otherwise than the one before,
    // and a channel takes an id of its own when its counters change, so that no delta
    // subtracts one counter from another.
    void sampleWholeGroup(const Catalog& catalog, const IOReportChannelList& wanted,
                          IOReportChannelList& out) {
        if (!namesWholeGroup(wanted))
            return;
        std::map<std::string, Channel> kept;
        for (const Plan& plan : catalog.plans) {
            const std::string name = plan.description.name.value_or("");
            auto before = byName_.find(name);
            Channel& channel = kept[name];
            if (before != byName_.end() && before->second.plan.counterFiles == plan.counterFiles) {
                channel = std::move(before->second);
            } else {
                channel = fresh(plan);
                channel.plan.description.channelID = nextID_++;
            }
            if (auto values = sampleCounters(*catalog.channels, channel))
                out.push_back(std::move(*values));
        }
        byName_ = std::move(kept);
    }

    // The channel's unwrapped total from the counters' latest values; every counter that has
    // one advances its own total, and the channel has a value only when all of them do. A
    // channel of several cards advances by the busiest card's counter (by the cards' activity,
    // else by what each drew), so its power is that card's over the interval.
    std::optional<IOReportChannel> sampleCounters(const ChannelSet& set, Channel& channel) const {
        bool complete = true;
        std::uint64_t sum = 0;
        std::optional<std::pair<double, std::uint64_t>> busiest; // percent, advance
        for (std::size_t i = 0; i < channel.plan.counterFiles.size(); ++i) {
            const auto index = set.find(channel.plan.counterFiles[i]);
            const auto value = index ? set.value(*index) : std::nullopt;
            if (!value || *value < 0) {
                complete = false;
                continue;
            }
            const auto raw = static_cast<std::uint64_t>(*value);
            const std::uint64_t advance =
                channel.primed[i] ? counterAdvance(channel.raw[i], raw, channel.plan.ranges[i]) : 0;
            channel.total[i] = channel.primed[i] ? channel.total[i] + advance : raw;
            channel.raw[i] = raw;
            channel.primed[i] = true;
            sum += channel.total[i];
            if (!channel.plan.cards.empty()) {
                const auto percent = cards_ ? cards_->percent(channel.plan.cards[i]) : std::nullopt;
                busiest = std::max(busiest.value_or(std::pair{-1.0, std::uint64_t{0}}),
                                   std::pair{percent.value_or(-1), advance});
            }
        }
        if (!channel.plan.cards.empty()) {
            if (!busiest)
                return std::nullopt;
            channel.busiest += busiest->second;
            sum = channel.busiest;
        } else if (!complete) {
            return std::nullopt;
        }
        IOReportChannel values = channel.plan.description;
        values.count = static_cast<std::int64_t>(sum);
        return values;
    }

    CatalogPoller<Catalog>& poller_;
    std::shared_ptr<const CardActivity> cards_;
    std::vector<Channel> channels_;
    IOReportChannelList descriptions_;
    bool wholeGroup_ = false;
    std::map<std::string, Channel> byName_;
    std::uint64_t nextID_ = std::uint64_t{1} << 32; // beyond every group's own ids
};

// One walk of the powercap zones and hwmon chips, on the poller's lane.
class Discovery {
public:
    Discovery(std::shared_ptr<ChannelSet> set, posix::KeptValue::Pread pread)
        : owned_(std::move(set)), set_(*owned_), sys_(set_.root()), pread_(pread) {}

    std::shared_ptr<const Catalog> run();

private:
    struct Zones {
        std::vector<std::string> packages, uncores;
    };
    bool readable(const std::string& relative) const;
    Zones raplZones() const;
    std::optional<Plan> zonesPlan(std::uint64_t id, const char* name,
                                  const std::vector<std::string>& zones) const;
    std::vector<unsigned> readableEnergyIndices(const std::string& chip) const;
    struct CardCounter {
        std::string file;
        std::string card; // its PCI address
    };
    void hwmonCounters(bool gpuFound, std::vector<Plan>& counters,
                       std::vector<CardCounter>& graphicsCounters) const;

    std::shared_ptr<ChannelSet> owned_; // the catalogue holds on to it
    ChannelSet& set_;
    const posix::RootedDirectory& sys_;
    posix::KeptValue::Pread pread_;
};

bool Discovery::readable(const std::string& relative) const {
    // Permission is settled here, once: a counter the user may not read has no channel. A
    // transient failure keeps it; its channel is then absent from that sample only.
    const auto outcome = posix::KeptValue(sys_, relative.c_str(), pread_).readCounter().outcome;
    return outcome != posix::Outcome::gone && outcome != posix::Outcome::denied &&
           set_.add(relative);
}

Discovery::Zones Discovery::raplZones() const {
    Zones zones;
    for (const std::string& entry : sys_.list("class/powercap")) {
        const auto zone = parsePowercapZoneDirectory(entry);
        if (!zone)
            continue;
        const std::string directory = "class/powercap/" + entry;
        const auto name = sys_.readText((directory + "/name").c_str(), 64);
        const PowercapDomain domain = name ? powercapDomain(*name) : PowercapDomain::other;
        if (!zone->subzone && domain == PowercapDomain::package)
            zones.packages.push_back(directory);
        else if (zone->subzone && domain == PowercapDomain::uncore)
            zones.uncores.push_back(directory);
    }
    return zones;
}

std::optional<Plan> Discovery::zonesPlan(std::uint64_t id, const char* name,
                                         const std::vector<std::string>& zones) const {
    if (zones.empty())
        return std::nullopt;
    Plan plan;
    plan.description.channelID = id;
    plan.description.name = name;
    plan.description.unit = "uJ";
    for (const std::string& zone : zones) {
        plan.counterFiles.push_back(zone + "/energy_uj");
        if (!readable(plan.counterFiles.back()))
            return std::nullopt; // a sum without one of its parts would be wrong
        plan.ranges.push_back(
            sys_.readCounter((zone + "/max_energy_range_uj").c_str()).value.value_or(0));
    }
    return plan;
}

// The N of every readable "energyN_input" in a chip's folder, ascending.
std::vector<unsigned> Discovery::readableEnergyIndices(const std::string& chip) const {
    std::vector<unsigned> indices;
    for (const std::string& file : sys_.list(chip.c_str())) {
        if (!file.starts_with("energy") || !file.ends_with("_input"))
            continue;
        const auto index =
            base::wholeNumber<unsigned>(std::string_view(file).substr(6, file.size() - 6 - 6));
        if (index && readable(chip + "/" + file))
            indices.push_back(*index);
    }
    std::sort(indices.begin(), indices.end());
    return indices;
}

// Every readable hwmon energy counter is a channel of its own, "<chip>/<label>"; a graphics
// chip's first one is also the GPU's energy where the uncore zone is unreadable. Chip names
// are told apart among every node, a chip without a name going by its node.
void Discovery::hwmonCounters(bool gpuFound, std::vector<Plan>& counters,
                              std::vector<CardCounter>& graphicsCounters) const {
    std::vector<HwmonNode> nodes = listHwmonNodes(sys_);
    std::vector<ChipIdentity> chips;
    for (HwmonNode& node : nodes) {
        if (node.identity.name.empty())
            node.identity.name = node.identity.node;
        chips.push_back(node.identity);
    }
    const std::vector<std::string> chipNames = uniqueChipNames(chips);
    std::uint64_t nextID = firstCounterID;
    for (std::size_t c = 0; c < nodes.size(); ++c) {
        const std::string& chip = nodes[c].folder;
        const bool graphics = std::find(graphicsChips.begin(), graphicsChips.end(),
                                        chips[c].name) != graphicsChips.end();
        const std::vector<unsigned> indices = readableEnergyIndices(chip);
        for (unsigned index : indices) {
            const std::string stem = "energy" + std::to_string(index);
            const std::string counter = chip + "/" + stem + "_input";
            if (graphics && index == indices.front() && !gpuFound)
                graphicsCounters.push_back({counter, deviceAddressOf(chips[c].linkTarget).text});
            Plan& plan = counters.emplace_back();
            plan.description.channelID = nextID++;
            const auto label = sys_.readText((chip + "/" + stem + "_label").c_str(), 256);
            plan.description.name =
                chipNames[c] + "/" + cleanLabel(label.value_or("")).value_or(stem);
            plan.description.unit = "uJ";
            plan.counterFiles = {counter};
            plan.ranges = {0}; // 64-bit counters, no wrap range
        }
    }
}

std::shared_ptr<const Catalog> Discovery::run() {
    const Zones zones = raplZones();
    std::vector<Plan> plans, counters;
    if (auto cpu = zonesPlan(cpuEnergyID, "CPU Energy", zones.packages))
        plans.push_back(std::move(*cpu));
    auto gpu = zonesPlan(gpuEnergyID, "GPU Energy", zones.uncores);
    std::vector<CardCounter> graphicsCounters;
    hwmonCounters(gpu.has_value(), counters, graphicsCounters);
    if (!gpu && !graphicsCounters.empty()) {
        gpu.emplace();
        gpu->description.channelID = gpuEnergyID;
        gpu->description.name = "GPU Energy";
        gpu->description.unit = "uJ";
        for (CardCounter& counter : graphicsCounters) {
            gpu->counterFiles.push_back(std::move(counter.file));
            gpu->cards.push_back(std::move(counter.card));
        }
        gpu->ranges.assign(gpu->counterFiles.size(), 0);
        if (gpu->cards.size() == 1)
            gpu->cards.clear(); // one card: its counter as it is
    }
    if (gpu)
        plans.push_back(std::move(*gpu));
    std::move(counters.begin(), counters.end(), std::back_inserter(plans));
    auto catalog = std::make_shared<Catalog>();
    catalog->channels = owned_;
    catalog->plans = std::move(plans);
    return catalog;
}

} // namespace

EnergyChannels::EnergyChannels(const std::string& sysRoot, SensorPoller::Setup setup)
    : cards_(setup.cards),
      poller_(
          sysRoot,
          [pread = setup.pread](const std::shared_ptr<ChannelSet>& channels) {
              return Discovery(channels, pread).run();
          },
          std::move(setup).forBackEnd("energy", {"class/powercap", "class/hwmon"},
                                      {"hwmon", "powercap"})) {}

bool EnergyChannels::names(std::string_view group, std::optional<std::string_view> subgroup) const {
    return group == energyGroup && !subgroup;
}

std::optional<IOReportChannelList> EnergyChannels::discover() {
    const auto catalog = poller_.current();
    if (!catalog)
        return IOReportChannelList{EnergyReader::wholeGroup()};
    if (catalog->plans.empty())
        return std::nullopt;
    IOReportChannelList channels;
    for (const Plan& plan : catalog->plans)
        channels.push_back(plan.description);
    return channels;
}

std::unique_ptr<GroupReader> EnergyChannels::subscribe(const IOReportChannelList& wanted,
                                                       std::size_t&) {
    if (namesWholeGroup(wanted))
        return std::make_unique<EnergyReader>(poller_, cards_);
    const auto catalog = poller_.current();
    if (!catalog)
        return nullptr;
    std::vector<EnergyReader::Channel> channels;
    for (const IOReportChannel& want : wanted) {
        const auto found =
            std::find_if(catalog->plans.begin(), catalog->plans.end(), [&](const Plan& plan) {
                return plan.description.channelID == want.channelID;
            });
        if (found == catalog->plans.end() ||
            std::any_of(channels.begin(), channels.end(), [&](const auto& channel) {
                return channel.plan.description.channelID == want.channelID;
            }))
            continue;
        channels.push_back(EnergyReader::fresh(*found));
    }
    if (channels.empty())
        return nullptr;
    return std::make_unique<EnergyReader>(poller_, cards_, std::move(channels));
}

} // namespace brivane::platform::linux_backend
