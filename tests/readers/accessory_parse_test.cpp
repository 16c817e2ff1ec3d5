#include "formats/sensor_snapshot.h"
#include "platform/sim/canned_outputs.h"

#include <gtest/gtest.h>
#include <optional>
#include <string>
#include <vector>

namespace brivane {
namespace {

using Accessory = SensorSnapshot::AccessoryReading;

std::string str(const std::string& key, const std::string& value) {
    return "<key>" + key + "</key><string>" + value + "</string>\n";
}
std::string num(const std::string& key, const std::string& value) {
    const bool real = value.find_first_of(".en") != std::string::npos;
    const std::string tag = real ? "real" : "integer";
    return "<key>" + key + "</key><" + tag + ">" + value + "</" + tag + ">\n";
}
std::string capacity(const std::string& value) {
    return num("Current Capacity", value);
}
// One power source as the power-management tool prints it: a whole XML property list.
std::string typed(const std::string& type, const std::string& entries) {
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\">\n<dict>\n" +
           str("Type", type) + entries + "</dict>\n</plist>\n";
}
std::string accessory(const std::string& name, const std::string& entries) {
    return typed("Accessory Source", str("Name", name) + entries);
}
// A source of accessory group G; part "Combined" stands for the whole group.
std::string member(std::optional<std::string> name, const std::string& part,
                   const std::string& entries) {
    return typed("Accessory Source", (name ? str("Name", *name) : "") +
                                         str("Group Identifier", "G") +
                                         str("Part Identifier", part) + entries);
}
std::string parts(const std::vector<std::string>& dictionaries) {
    std::string array = "<key>Combined Parts</key><array>\n";
    for (const auto& entries : dictionaries)
        array += "<dict>" + entries + "</dict>\n";
    return array + "</array>\n";
}
std::string combined(const std::string& partEntries) {
    return member("P", "Combined", capacity("60") + partEntries);
}

TEST(AccessoryParseTest, ReadsPresentAccessorySourcesAndTheirParts) {
    const Accessory m45{"M", {}, 0.45}, p60{"P", {}, 0.6};
    const std::string good = accessory("M", capacity("45"));
    std::string deep;
    for (int i = 0; i < 200000; ++i)
        deep += "<array>";
    struct Case {
        const char* name;
        std::string output;
        std::vector<Accessory> readings;
    };
    const std::vector<Case> cases = {
        {"other type", typed("InternalBattery", str("Name", "B") + capacity("50")), {}},
        {"not present", accessory("M", capacity("45") + "<key>Is Present</key><false/>"), {}},
        {"present", accessory("M", capacity("45") + "<key>Is Present</key><true/>"), {m45}},
        {"presence not a boolean", accessory("M", capacity("45") + str("Is Present", "no")), {m45}},
        {"header text before the first document", "Now drawing from 'Battery'\n" + good, {m45}},
        {"bytes around a declaration", std::string("\0\xff<?xml\0", 8) + good, {m45}},
        {"unclosed brackets",
         std::string(2000, '<') + "<?xml" + std::string(600, '[') + "<array>" + good,
         {m45}},
        {"long unclosed text",
         "<?xml version=\"1.0\"?><plist>" + std::string(100000, 'x') + good,
         {m45}},
        {"deep nesting", "<?xml version=\"1.0\"?><plist version=\"1.0\">" + deep, {}},
        {"broken document between good ones",
         accessory("A", capacity("10")) + "<?xml garbage <dict>" + accessory("B", capacity("20")),
         {{"A", {}, 0.1}, {"B", {}, 0.2}}},
        {"empty name", accessory("", capacity("45")), {}},
        {"no name", typed("Accessory Source", capacity("45")), {}},
        {"parts under the group name, later members too",
         combined(parts({str("Part Identifier", "L") + capacity("50"),
                         str("Part Identifier", "R") + capacity("70")})) +
             member("Q", "C", capacity("30")),
         {{"P", "L", 0.5}, {"P", "R", 0.7}, {"P", "C", 0.3}}},
        {"no part has a capacity",
         combined(parts({str("Part Identifier", "L"), str("Part Identifier", "R")})),
         {p60}},
        {"a part that is not a dictionary",
         combined("<key>Combined Parts</key><array><dict>" + str("Part Identifier", "L") +
                  capacity("50") + "</dict><string>x</string></array>"),
         {p60}},
        {"only the usable part counts",
         combined(parts({str("Part Identifier", "L") + capacity("150"), capacity("20")})),
         {{"P", {}, 0.2}}},
        {"the last combined entry names the members before it",
         member("O", "Combined", capacity("40")) + member("Q", "C", capacity("50")) +
             member("P", "Combined", capacity("50")),
         {{"P", {}, 0.4}, {"P", "C", 0.5}, {"P", {}, 0.5}}},
        {"unnamed last combined entry: members keep their own names",
         member("P", "Combined", capacity("50")) + member("Q", "C", capacity("50")) +
             member(std::nullopt, "Combined", capacity("40")),
         {{"P", {}, 0.5}, {"Q", "C", 0.5}}},
        {"an empty group name silences the group",
         member("", "Combined", capacity("50")) + member("Q", "C", capacity("50")),
         {}},
        {"simulated laptop",
         platform::sim::cannedPmsetOutput(),
         {{"Magic Mouse", {}, 0.64},
          {"Studio Buds", "Left", 0.8},
          {"Studio Buds", "Right", 0.74},
          {"Studio Buds", "Case", 0.45}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(Accessory::parse(c.output), c.readings);
    }
}

TEST(AccessoryParseTest, LevelIsCurrentOverMaximumWithinBounds) {
    const std::vector<std::pair<std::string, std::optional<double>>> cases = {
        {capacity("45"), 0.45},
        {capacity("80") + num("Max Capacity", "200"), 0.4},
        {capacity("0"), 0.0},
        {capacity("37.5") + num("Max Capacity", "75.0"), 0.5},
        {capacity("30") + str("Max Capacity", "60"), 0.3},
        {capacity("80") + num("Max Capacity", "0"), std::nullopt},
        {capacity("120"), std::nullopt},
        {capacity("-1"), std::nullopt},
        {capacity("nan"), std::nullopt},
        {capacity("1") + num("Max Capacity", "inf"), std::nullopt},
        // Read as unsigned, this negative maximum would make any capacity fit.
        {capacity("5") + num("Max Capacity", "-9223372036854775808"), std::nullopt},
        {capacity("18446744073709551615") + num("Max Capacity", "100"), std::nullopt},
        {str("Current Capacity", "45"), std::nullopt},
    };
    for (const auto& [capacities, level] : cases) {
        SCOPED_TRACE(capacities);
        EXPECT_EQ(Accessory::parse(accessory("M", capacities)),
                  (level ? std::vector<Accessory>{{"M", {}, *level}} : std::vector<Accessory>{}));
    }
}

} // namespace
} // namespace brivane
