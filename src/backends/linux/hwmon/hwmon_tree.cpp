#include "backends/linux/hwmon/hwmon_tree.h"

#include <algorithm>
#include <map>
#include <set>
#include <tuple>

namespace brivane::platform::linux_backend {
namespace {

struct Files {
    std::string input, average, label, enable;
    HwmonChannel channel;
};

void collect(const posix::RootedDirectory& sys, const std::string& folder,
             std::map<std::pair<SensorKind, unsigned>, Files>& channels) {
    sys.forEachEntry(folder.c_str(), [&](std::string_view file) {
        const auto attribute = parseAttributeName(file);
        if (!attribute) {
            return;
        }
        const SensorKind kind = attribute->kind;
        Files& files = channels[{kind, attribute->index}];
        HwmonChannel& channel = files.channel;
        const auto take = [&](std::string& path) {
            // The node is listed first; its file wins over the device's.
            if (path.empty()) {
                path = folder + "/" + std::string(file);
            }
        };
        const std::string_view item = attribute->item;
        const SensorKindInfo& row = infoOf(kind);
        using Item = std::optional<std::string_view>; // none: the kind has no such file
        const std::pair<Item, std::string*> items[] = {
            {row.hwmon.item, &files.input}, // empty for a bare file ("pwm1")
            {"average", &files.average},
            {"label", &files.label},
            {row.hwmon.enableTurnsOff ? Item("enable") : std::nullopt, &files.enable},
            {row.fault ? Item("fault") : std::nullopt, &channel.fault}};
        for (const auto& [name, path] : items) {
            if (name == item) {
                take(*path);
            }
        }
        for (std::size_t i = 0; i < channel.limits.size(); ++i) {
            if (item == limitItem(kind, i) && !item.empty()) {
                take(channel.limits[i]);
            }
            if (item == alarmItem(kind, i) && !item.empty()) {
                take(channel.alarms[i]);
            }
        }
    });
}

std::optional<std::string> text(const posix::RootedDirectory& sys, const std::string& path) {
    if (path.empty()) {
        return std::nullopt;
    }
    const auto read = sys.readText(path.c_str(), 256);
    return read ? cleanLabel(*read) : std::nullopt;
}

} // namespace

std::vector<std::string> uniqueLabels(const std::vector<HwmonChannel>& channels) {
    using Name = std::pair<SensorKind, std::string>;
    std::set<Name> given;
    for (const auto& channel : channels) {
        if (channel.label) {
            given.emplace(channel.kind, *channel.label);
        }
    }
    std::set<Name> taken;
    std::vector<std::string> labels;
    labels.reserve(channels.size());
    for (const auto& channel : channels) {
        const std::string base = channel.label.value_or(attributeStem(channel.kind, channel.index));
        std::string label = base;
        // A number must not make it another channel's own label.
        for (int number = 2; taken.contains({channel.kind, label}) ||
                             (label != channel.label && given.contains({channel.kind, label}));
             ++number) {
            label = base + " " + std::to_string(number);
        }
        taken.emplace(channel.kind, label);
        labels.push_back(std::move(label));
    }
    return labels;
}

std::vector<HwmonNode> listHwmonNodes(const posix::RootedDirectory& sys) {
    std::vector<HwmonNode> nodes;
    for (const auto& node : sys.list("class/hwmon")) {
        HwmonNode& found = nodes.emplace_back();
        found.folder = "class/hwmon/" + node;
        found.identity.name = text(sys, found.folder + "/name").value_or("");
        found.identity.linkTarget = sys.linkTarget(found.folder.c_str()).value_or("");
        found.identity.node = node;
    }
    return nodes;
}

std::vector<HwmonChip> listHwmonChips(const posix::RootedDirectory& sys,
                                      bool (*wanted)(std::string_view name)) {
    std::vector<HwmonChip> chips;
    for (auto& node : listHwmonNodes(sys)) {
        const std::string& base = node.folder;
        const std::string device = base + "/device";
        // A battery's own twin: the battery (or the accessory it powers) reports its figures. A
        // charger's, a USB-C port's or a mains adapter's is a chip like any other.
        if (belongsToPowerSupply(node.identity.linkTarget) &&
            text(sys, device + "/type").value_or("Battery") == "Battery") {
            continue;
        }
        if (node.identity.name.empty()) {
            // Drivers registered the old way name the chip in its device folder.
            node.identity.name = text(sys, device + "/name").value_or("");
        }
        if (node.identity.name.empty() || (wanted && !wanted(node.identity.name))) {
            continue;
        }
        HwmonChip chip;
        chip.identity = std::move(node.identity);

        std::map<std::pair<SensorKind, unsigned>, Files> found;
        collect(sys, base, found);
        collect(sys, device, found);
        for (auto& [id, files] : found) {
            const auto& [kind, index] = id;
            HwmonChannel& channel = files.channel;
            channel.input = std::move(files.input);
            if (channel.input.empty() && kind == SensorKind::power) {
                channel.input = std::move(files.average);
            }
            const bool listed = kind == SensorKind::temperature || kind == SensorKind::fan;
            const auto first = [](const auto& paths) {
                const auto at = std::find_if(paths.begin(), paths.end(),
                                             [](const std::string& path) { return !path.empty(); });
                return at == paths.end() ? std::string() : *at;
            };
            if (channel.input.empty() && !listed) {
                // A flag without a reading; a limit without one (an Arc card's PL1 and PL4: it
                // counts energy instead; a dedicated charger's current limit).
                channel.input = first(channel.alarms);
                if (channel.input.empty()) {
                    channel.input = first(channel.limits);
                }
                channel.flagOnly = !channel.input.empty();
            }
            if (channel.input.empty() || text(sys, channel.fault) == "1" ||
                text(sys, files.enable) == "0") {
                continue;
            }
            channel.kind = kind;
            channel.index = index;
            channel.label = text(sys, files.label);
            chip.channels.push_back(std::move(channel));
        }
        chips.push_back(std::move(chip));
    }
    return chips;
}

} // namespace brivane::platform::linux_backend
