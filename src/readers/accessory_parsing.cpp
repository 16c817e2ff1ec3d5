#include "formats/sensor_snapshot.h"
#include "readers/property_list.h"

#include <cmath>
#include <optional>
#include <string_view>
#include <unordered_map>

namespace brivane {
namespace {

using AccessoryReading = SensorSnapshot::AccessoryReading;

constexpr std::string_view documentStart = "<?xml";
constexpr std::string_view accessoryType = "Accessory Source";
constexpr std::string_view combinedPart = "Combined";
constexpr double defaultMaximumCapacity = 100;

std::optional<std::string_view> stringItem(plist::Node dictionary, const char* key) {
    return plist::stringValue(plist::item(dictionary, key));
}

std::optional<AccessoryReading> reading(plist::Node source, std::string_view name,
                                        std::optional<std::string_view> part,
                                        double defaultMaximum) {
    const auto current = plist::numberValue(plist::item(source, "Current Capacity"));
    if (!current) {
        return std::nullopt;
    }
    const double maximum =
        plist::numberValue(plist::item(source, "Max Capacity")).value_or(defaultMaximum);
    if (!(maximum > 0) || !std::isfinite(maximum)) {
        return std::nullopt;
    }
    if (std::isnan(*current) || *current < 0 || *current > maximum) {
        return std::nullopt;
    }
    AccessoryReading result;
    result.name = std::string(name);
    if (part) {
        result.part = std::string(*part);
    }
    result.level = *current / maximum;
    return result;
}

bool isAccessorySource(plist::Node root) {
    if (!plist::isDictionary(root) || stringItem(root, "Type") != accessoryType) {
        return false;
    }
    return plist::booleanValue(plist::item(root, "Is Present")) != false;
}

// Only an array made entirely of dictionaries counts as the device's parts.
bool holdsParts(plist::Node parts) {
    const std::size_t count = plist::arraySize(parts);
    if (count == 0) {
        return false;
    }
    for (std::size_t i = 0; i < count; ++i) {
        if (!plist::isDictionary(plist::arrayItem(parts, i))) {
            return false;
        }
    }
    return true;
}

void appendReadings(plist::Node source, std::string_view name,
                    std::vector<AccessoryReading>& result) {
    const plist::Node parts = plist::item(source, "Combined Parts");
    if (holdsParts(parts)) {
        const std::size_t before = result.size();
        for (std::size_t i = 0, count = plist::arraySize(parts); i < count; ++i) {
            const plist::Node partSource = plist::arrayItem(parts, i);
            if (auto partReading =
                    reading(partSource, name, stringItem(partSource, "Part Identifier"),
                            defaultMaximumCapacity)) {
                result.push_back(std::move(*partReading));
            }
        }
        if (result.size() > before) {
            return;
        }
    }
    auto part = stringItem(source, "Part Identifier");
    if (part == combinedPart) {
        part.reset();
    }
    if (auto whole = reading(source, name, part, defaultMaximumCapacity)) {
        result.push_back(std::move(*whole));
    }
}

} // namespace

std::vector<AccessoryReading> AccessoryReading::parse(std::string_view output) {
    std::vector<plist::Document> documents;
    std::vector<plist::Node> sources;
    for (auto start = output.find(documentStart); start != std::string_view::npos;) {
        const auto next = output.find(documentStart, start + documentStart.size());
        auto document = plist::parse(output.substr(start, next - start));
        if (isAccessorySource(document.get())) {
            sources.push_back(document.get());
            documents.push_back(std::move(document));
        }
        start = next;
    }
    if (sources.empty()) {
        return {};
    }

    // A group is named by its last combined entry, for the sources before it as well.
    std::unordered_map<std::string_view, std::string_view> groupNames;
    for (const plist::Node source : sources) {
        const auto group = stringItem(source, "Group Identifier");
        if (!group || stringItem(source, "Part Identifier") != combinedPart) {
            continue;
        }
        if (const auto name = stringItem(source, "Name")) {
            groupNames[*group] = *name;
        } else {
            groupNames.erase(*group);
        }
    }

    std::vector<AccessoryReading> result;
    for (const plist::Node source : sources) {
        std::optional<std::string_view> name;
        const auto group = stringItem(source, "Group Identifier");
        if (const auto named = group ? groupNames.find(*group) : groupNames.end();
            named != groupNames.end()) {
            name = named->second;
        } else {
            name = stringItem(source, "Name");
        }
        if (!name || name->empty()) {
            continue;
        }
        appendReadings(source, *name, result);
    }
    return result;
}

} // namespace brivane
