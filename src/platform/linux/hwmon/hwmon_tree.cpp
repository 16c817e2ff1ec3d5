#include "platform/linux/hwmon/hwmon_tree.h"

#include <map>
#include <set>
#include <tuple>

namespace brivane::platform::linux_backend {
namespace {

struct Files {
    std::string input, average, label, minimum, maximum, fault, enable;
};

void collect(const host::RootedDirectory& sys, const std::string& folder,
             std::map<std::pair<SensorKind, unsigned>, Files>& channels) {
    sys.forEachEntry(folder.c_str(), [&](std::string_view file) {
        const auto attribute = parseAttributeName(file);
        if (!attribute) {
            return;
        }
        Files& files = channels[{attribute->kind, attribute->index}];
        const std::pair<std::string_view, std::string*> items[] = {
            {"input", &files.input},  {"average", &files.average}, {"label", &files.label},
            {"min", &files.minimum},  {"max", &files.maximum},     {"fault", &files.fault},
            {"enable", &files.enable}};
        for (const auto& [item, path] : items) {
            // The node is listed first; its file wins over the device's.
            if (attribute->item == item && path->empty()) {
                *path = folder + "/" + std::string(file);
            }
        }
    });
}

std::optional<std::string> text(const host::RootedDirectory& sys, const std::string& path) {
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

std::vector<HwmonNode> listHwmonNodes(const host::RootedDirectory& sys) {
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

std::vector<HwmonChip> listHwmonChips(const host::RootedDirectory& sys,
                                      bool (*wanted)(std::string_view name)) {
    std::vector<HwmonChip> chips;
    for (auto& node : listHwmonNodes(sys)) {
        const std::string& base = node.folder;
        const std::string device = base + "/device";
        if (belongsToPowerSupply(node.identity.linkTarget)) {
            continue; // the supply's own twin: its battery reports the same temperature
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
            std::string input = std::move(files.input);
            if (input.empty() && kind == SensorKind::power) {
                input = std::move(files.average);
            }
            if (input.empty() || text(sys, files.fault) == "1" || text(sys, files.enable) == "0") {
                continue;
            }
            chip.channels.push_back({kind, index, text(sys, files.label), std::move(input),
                                     std::move(files.minimum), std::move(files.maximum)});
        }
        chips.push_back(std::move(chip));
    }
    return chips;
}

} // namespace brivane::platform::linux_backend
