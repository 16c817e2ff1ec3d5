#include "formats/sensor_snapshot.h"
#include "platform/sim/canned_outputs.h"

#include <gtest/gtest.h>
#include <optional>
#include <string>
#include <vector>

namespace brivane {
namespace {

using Accessory = SensorSnapshot::AccessoryReading;

// One power source as the power-management tool prints it: a whole XML property list.
std::string source(const std::string& entries) {
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
           "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" "
           "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
           "<plist version=\"1.0\">\n<dict>\n" +
           entries + "</dict>\n</plist>\n";
}
std::string str(const std::string& key, const std::string& value) {
    return "<key>" + key + "</key><string>" + value + "</string>\n";
}
std::string num(const std::string& key, const std::string& value) {
    const bool real = value.find_first_of(".en") != std::string::npos;
    const std::string tag = real ? "real" : "integer";
    return "<key>" + key + "</key><" + tag + ">" + value + "</" + tag + ">\n";
}
std::string present(bool value) {
    return std::string("<key>Is Present</key>") + (value ? "<true/>" : "<false/>") + "\n";
}
std::string accessory(const std::string& name, const std::string& entries) {
    return source(str("Type", "Accessory Source") + str("Name", name) + entries);
}
std::string parts(const std::vector<std::string>& dictionaries) {
    std::string array = "<key>Combined Parts</key><array>\n";
    for (const auto& entries : dictionaries) {
        array += "<dict>" + entries + "</dict>\n";
    }
    return array + "</array>\n";
}

Accessory expected(std::string name, std::optional<std::string> part, double level) {
    return Accessory{std::move(name), std::move(part), level};
}

TEST(AccessoryParseTest, SelectsPresentAccessorySourcesOnly) {
    struct Case {
        const char* name;
        std::string output;
        std::vector<Accessory> readings;
    };
    const std::vector<Case> cases = {
        {"empty output", "", {}},
        {"no document", "Now drawing from 'AC Power'\n -InternalBattery-0 87%\n", {}},
        {"other type",
         source(str("Type", "InternalBattery") + str("Name", "B") + num("Current Capacity", "50")),
         {}},
        {"type differing in case",
         source(str("Type", "accessory source") + str("Name", "M") + num("Current Capacity", "5")),
         {}},
        {"not present", accessory("M", num("Current Capacity", "45") + present(false)), {}},
        {"present",
         accessory("M", num("Current Capacity", "45") + present(true)),
         {expected("M", std::nullopt, 0.45)}},
        {"presence unknown",
         accessory("M", num("Current Capacity", "45")),
         {expected("M", std::nullopt, 0.45)}},
        {"presence not a boolean",
         accessory("M", num("Current Capacity", "45") + str("Is Present", "no")),
         {expected("M", std::nullopt, 0.45)}},
        {"header text before the first document",
         "Now drawing from 'Battery Power'\n" + accessory("M", num("Current Capacity", "45")),
         {expected("M", std::nullopt, 0.45)}},
        {"broken document between good ones",
         accessory("A", num("Current Capacity", "10")) + "<?xml garbage <dict>" +
             accessory("B", num("Current Capacity", "20")),
         {expected("A", std::nullopt, 0.1), expected("B", std::nullopt, 0.2)}},
        {"top level not a dictionary",
         "<?xml version=\"1.0\"?><plist version=\"1.0\"><array><string>x</string></array></plist>",
         {}},
        {"empty name", accessory("", num("Current Capacity", "45")), {}},
        {"no name", source(str("Type", "Accessory Source") + num("Current Capacity", "45")), {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(Accessory::parse(c.output), c.readings);
    }
}

TEST(AccessoryParseTest, LevelIsCurrentOverMaximumWithinBounds) {
    struct Case {
        std::string capacities;
        std::optional<double> level;
    };
    const std::vector<Case> cases = {
        {num("Current Capacity", "45"), 0.45},
        {num("Current Capacity", "80") + num("Max Capacity", "200"), 0.4},
        {num("Current Capacity", "0"), 0.0},
        {num("Current Capacity", "100"), 1.0},
        {num("Current Capacity", "37.5") + num("Max Capacity", "75.0"), 0.5},
        {num("Current Capacity", "30") + str("Max Capacity", "60"), 0.3},
        {num("Current Capacity", "80") + num("Max Capacity", "0"), std::nullopt},
        {num("Current Capacity", "80") + num("Max Capacity", "-5"), std::nullopt},
        {num("Current Capacity", "120"), std::nullopt},
        {num("Current Capacity", "-1"), std::nullopt},
        {num("Current Capacity", "-1.5"), std::nullopt},
        {num("Current Capacity", "nan"), std::nullopt},
        {num("Current Capacity", "1") + num("Max Capacity", "inf"), std::nullopt},
        // Read as unsigned, this negative maximum would make any capacity fit.
        {num("Current Capacity", "5") + num("Max Capacity", "-9223372036854775808"), std::nullopt},
        {num("Current Capacity", "18446744073709551615") + num("Max Capacity", "100"),
         std::nullopt},
        {str("Current Capacity", "45"), std::nullopt},
        {"<key>Current Capacity</key><true/>", std::nullopt},
        {"", std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.capacities);
        const auto readings = Accessory::parse(accessory("M", c.capacities));
        if (!c.level) {
            EXPECT_TRUE(readings.empty());
            continue;
        }
        ASSERT_EQ(readings.size(), 1u);
        EXPECT_DOUBLE_EQ(readings[0].level, *c.level);
    }
}

TEST(AccessoryParseTest, CombinedEntriesReportTheirPartsUnderTheGroupName) {
    const std::string combined =
        source(str("Type", "Accessory Source") + str("Name", "P") + str("Group Identifier", "G") +
               str("Part Identifier", "Combined") + num("Current Capacity", "60") +
               parts({str("Part Identifier", "L") + num("Current Capacity", "50"),
                      str("Part Identifier", "R") + num("Current Capacity", "70")}));
    const std::string laterPart =
        source(str("Type", "Accessory Source") + str("Name", "Q") + str("Group Identifier", "G") +
               str("Part Identifier", "C") + num("Current Capacity", "30"));
    EXPECT_EQ(Accessory::parse(combined + laterPart),
              (std::vector<Accessory>{expected("P", "L", 0.5), expected("P", "R", 0.7),
                                      expected("P", "C", 0.3)}));
}

TEST(AccessoryParseTest, PartsFallBackToTheWholeSource) {
    struct Case {
        const char* name;
        std::string partEntries;
        std::vector<Accessory> readings;
    };
    const std::vector<Case> cases = {
        {"no part has a capacity",
         parts({str("Part Identifier", "L"), str("Part Identifier", "R")}),
         {expected("P", std::nullopt, 0.6)}},
        {"empty parts", parts({}), {expected("P", std::nullopt, 0.6)}},
        {"a part that is not a dictionary",
         "<key>Combined Parts</key><array><dict>" + str("Part Identifier", "L") +
             num("Current Capacity", "50") + "</dict><string>x</string></array>",
         {expected("P", std::nullopt, 0.6)}},
        {"only the usable part counts",
         parts({str("Part Identifier", "L") + num("Current Capacity", "150"),
                num("Current Capacity", "20")}),
         {expected("P", std::nullopt, 0.2)}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto output = source(
            str("Type", "Accessory Source") + str("Name", "P") + str("Group Identifier", "G") +
            str("Part Identifier", "Combined") + num("Current Capacity", "60") + c.partEntries);
        EXPECT_EQ(Accessory::parse(output), c.readings);
    }
}

TEST(AccessoryParseTest, GroupNamesAreSettledBeforeReadings) {
    auto member = [](const std::string& name, const std::string& part) {
        return source(str("Type", "Accessory Source") + str("Name", name) +
                      str("Group Identifier", "G") + str("Part Identifier", part) +
                      num("Current Capacity", "50"));
    };
    auto unnamedCombined =
        source(str("Type", "Accessory Source") + str("Group Identifier", "G") +
               str("Part Identifier", "Combined") + num("Current Capacity", "40"));

    // A later combined entry names the members printed before it.
    EXPECT_EQ(Accessory::parse(member("Q", "C") + member("P", "Combined")),
              (std::vector<Accessory>{expected("P", "C", 0.5), expected("P", std::nullopt, 0.5)}));
    // The last combined entry has no name: every member uses its own, the entry itself none.
    EXPECT_EQ(Accessory::parse(member("P", "Combined") + member("Q", "C") + unnamedCombined),
              (std::vector<Accessory>{expected("P", std::nullopt, 0.5), expected("Q", "C", 0.5)}));
    // An empty group name silences the whole group.
    EXPECT_TRUE(Accessory::parse(member("", "Combined") + member("Q", "C")).empty());
}

TEST(AccessoryParseTest, SimulatedLaptopOutput) {
    EXPECT_EQ(Accessory::parse(platform::sim::cannedPmsetOutput()),
              (std::vector<Accessory>{
                  expected("Magic Mouse", std::nullopt, 0.64), expected("Studio Buds", "Left", 0.8),
                  expected("Studio Buds", "Right", 0.74), expected("Studio Buds", "Case", 0.45)}));
}

TEST(AccessoryParseTest, ArbitraryBytesAroundDocumentsAreSurvived) {
    const std::string good = accessory("M", num("Current Capacity", "45"));
    const std::vector<std::string> noise = {
        "<?xml",
        "<?xml<?xml",
        std::string("\0\xff<?xml\0", 8),
        "<?xml version=\"1.0\"?><plist>",
        std::string(2000, '<') + "<?xml" + std::string(600, '[') + "<array>",
        "<?xml version=\"1.0\"?><plist version=\"1.0\">" + std::string(100000, 'x')};
    for (const auto& bytes : noise) {
        EXPECT_EQ(Accessory::parse(bytes + good).size(), 1u);
    }
    std::string deep = "<?xml version=\"1.0\"?><plist version=\"1.0\">";
    for (int i = 0; i < 200000; ++i) {
        deep += "<array>";
    }
    EXPECT_TRUE(Accessory::parse(deep).empty());
}

} // namespace
} // namespace brivane
