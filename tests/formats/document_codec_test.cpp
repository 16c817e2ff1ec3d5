#include "formats/document_codec.h"

#include <gtest/gtest.h>
#include <limits>
#include <string>

namespace brivane {
namespace {

using Snapshot = SensorSnapshot;
using State = SensorCompanionUpdate::State;

const double nan = std::numeric_limits<double>::quiet_NaN();
const double inf = std::numeric_limits<double>::infinity();

const Snapshot example{.temperatures = {{"BatteryTemperature", 30.5}},
                       .fans = {{0, std::nullopt, 1200.0, std::nullopt}},
                       .helperUID = 501,
                       .helperEffectiveUID = 501,
                       .power = std::vector<Snapshot::Reading>{},
                       .accessories = std::vector<Snapshot::AccessoryReading>{},
                       .supportsProcessDetails = true,
                       .supportsStorageHealth = true,
                       .supportsManagement = true};

template <typename Record, typename Decode>
void expectDocument(const Record& record, std::string_view json, Decode decode) {
    SCOPED_TRACE(json);
    EXPECT_EQ(encode(record), json);
    EXPECT_EQ(decode(json), record);
}

// Byte for byte: keys in order, absent optionals omitted at every level, texts escaped; and each
// document reads back as its record.
TEST(DocumentCodecTest, WritesExactDocumentsThatReadBack) {
    expectDocument(example,
                   R"({"version":2,"temperatures":[{"key":"BatteryTemperature","value":30.5}],)"
                   R"("fans":[{"id":0,"rpm":1200}],"helperUID":501,"helperEffectiveUID":501,)"
                   R"("power":[],"accessories":[],"supportsProcessDetails":true,)"
                   R"("supportsStorageHealth":true,"supportsManagement":true})",
                   decodeSensorSnapshot);
    expectDocument(
        Snapshot{2, {}, {}, 7, 8},
        R"({"version":2,"temperatures":[],"fans":[],"helperUID":7,"helperEffectiveUID":8})",
        decodeSensorSnapshot);
    expectDocument(
        Snapshot{1,
                 {{"TC0P", 45.25}, {"Tp09", 61.0}},
                 {{0, "Left \"fan\"", 2400.5, 6000.0}, {1, std::nullopt, 0.0, std::nullopt}},
                 4294967295u,
                 0,
                 std::vector<Snapshot::Reading>{{"PSTR", 12.5}, {"BatteryVoltage", 12.9}},
                 Snapshot::GraphicsReading{0.42, 0.4, std::nullopt},
                 std::vector<Snapshot::AccessoryReading>{{"Keyboard", std::nullopt, 0.8},
                                                         {"Buds", "left", 1.0}},
                 false,
                 true,
                 std::nullopt,
                 "1.4.2 (beta/2)"},
        R"({"version":1,"temperatures":[{"key":"TC0P","value":45.25},{"key":"Tp09","value":61}],)"
        R"("fans":[{"id":0,"name":"Left \"fan\"","rpm":2400.5,"maximumRPM":6000},)"
        R"({"id":1,"rpm":0}],"helperUID":4294967295,"helperEffectiveUID":0,)"
        R"("power":[{"key":"PSTR","value":12.5},{"key":"BatteryVoltage","value":12.9}],)"
        R"("graphics":{"utilization":0.42,"renderer":0.4},"accessories":[{"name":"Keyboard",)"
        R"("level":0.8},{"name":"Buds","part":"left","level":1}],"supportsProcessDetails":false,)"
        R"x("supportsStorageHealth":true,"companionVersion":"1.4.2 (beta\/2)"})x",
        decodeSensorSnapshot);
    expectDocument(CPUDetailsSnapshot{{{1, "launchd", 0.0}, {4242, "kernel_task", 12.5}},
                                      {{"ECPU", {0.25, 0.5}}, {"PCPU", {}}, {"MCPU", {1e-9}}},
                                      0,
                                      4294967295u},
                   R"({"processes":[{"pid":1,"name":"launchd","usage":0},)"
                   R"({"pid":4242,"name":"kernel_task","usage":12.5}],"residencies":)"
                   R"({"ECPU":[0.25,0.5],"MCPU":[1e-09],"PCPU":[]},"helperUID":0,)"
                   R"("helperEffectiveUID":4294967295})",
                   decodeCPUDetailsSnapshot);
    expectDocument(ProcessDetailsSnapshot{{}, {{88, "mds", 1048576, 0}}, 20, 20},
                   R"({"ranked":[],"storage":[{"pid":88,"name":"mds","readBytesPerSecond":1048576,)"
                   R"("writeBytesPerSecond":0}],"helperUID":20,"helperEffectiveUID":20})",
                   decodeProcessDetailsSnapshot);
    expectDocument(ProcessDetailsSnapshot{{{9, "WindowServer", 734003200.0}}, {}, 1, 2},
                   R"({"ranked":[{"pid":9,"name":"WindowServer","usage":734003200}],"storage":[],)"
                   R"("helperUID":1,"helperEffectiveUID":2})",
                   decodeProcessDetailsSnapshot);
    expectDocument(StorageHealthSnapshot{StorageHealthReading{.temperature = 41}, 501, 501},
                   R"({"reading":{"temperature":41},"helperUID":501,"helperEffectiveUID":501})",
                   decodeStorageHealthSnapshot);
    expectDocument(StorageHealthSnapshot{std::nullopt, 3, 4},
                   R"({"helperUID":3,"helperEffectiveUID":4})", decodeStorageHealthSnapshot);
    expectDocument(StorageHealthSnapshot{StorageHealthReading{}, 0, 0},
                   R"({"reading":{},"helperUID":0,"helperEffectiveUID":0})",
                   decodeStorageHealthSnapshot);
    expectDocument(SensorCompanionUpdate{State::busy}, R"({"state":"busy"})",
                   decodeSensorCompanionUpdate);
    expectDocument(SensorCompanionUpdate{State::failed, "2.0", "Could not open \"x\""},
                   R"({"state":"failed","version":"2.0","message":"Could not open \"x\""})",
                   decodeSensorCompanionUpdate);

    const StorageHealthSnapshot counters{
        StorageHealthReading{-100, 0, INT64_MAX, 2147483648, 1200, 30000, 100, 10, 37, 4294967296},
        4294967295u, 0};
    EXPECT_EQ(decodeStorageHealthSnapshot(encode(counters)), counters);
    // The buffer form replaces whatever the buffer held.
    std::string buffer = "stale";
    ASSERT_TRUE(encode(example, buffer));
    EXPECT_EQ(buffer, encode(example));
}

TEST(DocumentCodecTest, NonFiniteDoubleFailsTheWholeDocument) {
    const auto expectFailure = [](const auto& record) {
        std::string buffer = "previous contents";
        EXPECT_FALSE(encode(record, buffer));
        EXPECT_TRUE(buffer.empty());
        EXPECT_TRUE(encode(record).empty());
    };
    std::vector<Snapshot> broken(5, example);
    broken[0].fans[0].maximumRPM = nan;
    broken[1].temperatures[0].value = inf;
    broken[2].graphics = Snapshot::GraphicsReading{0.1, std::nullopt, -inf};
    broken[3].accessories = {{"Pen", std::nullopt, nan}};
    broken[4].power = {{"PSTR", nan}};
    for (const Snapshot& snapshot : broken) {
        expectFailure(snapshot);
    }
    expectFailure(CPUDetailsSnapshot{{{1, "x", inf}}, {}, 0, 0});
    expectFailure(CPUDetailsSnapshot{{}, {{"ECPU", {nan}}}, 0, 0});
}

template <auto decode> bool decodes(std::string_view json) {
    return decode(json).has_value();
}

// Required keys, types, nulls and unknown keys, document by document.
TEST(DocumentCodecTest, DecodingFollowsPresenceAndTypeRules) {
    const auto snapshot = decodes<decodeSensorSnapshot>;
    const auto cpu = decodes<decodeCPUDetailsSnapshot>;
    const auto processes = decodes<decodeProcessDetailsSnapshot>;
    const auto storage = decodes<decodeStorageHealthSnapshot>;
    const auto update = decodes<decodeSensorCompanionUpdate>;
    const std::string required =
        R"({"version":2,"temperatures":[],"fans":[],"helperUID":1,"helperEffectiveUID":1)";
    const std::string ids = R"("helperUID":0,"helperEffectiveUID":0})";
    const std::string rate =
        R"({"ranked":[],"storage":[{"pid":1,"name":"a","writeBytesPerSecond":0,"readBytesPerSecond":)";
    const struct {
        bool (*decodes)(std::string_view);
        std::string json;
        bool accepted;
    } cases[] = {
        {snapshot, required + "}", true},
        {snapshot, required + R"(,"graphics":null,"power":null,"companionVersion":null})", true},
        {snapshot, required + R"(,"graphics":5})", false},
        {snapshot, required + R"(,"power":{}})", false},
        {snapshot, required + R"(,"supportsManagement":1})", false},
        {snapshot, required + R"(,"supportsManagement":"true"})", false},
        {snapshot, required + R"(,"unknown":[1,{"x":null}]})", true},
        {snapshot, R"({"version":2,"temperatures":[],"helperUID":1,"helperEffectiveUID":1})",
         false},
        {snapshot,
         R"({"version":2,"fans":[],"temperatures":null,"helperUID":1,"helperEffectiveUID":1})",
         false},
        {snapshot, required + R"(,"fans":[{"id":0}]})", false},
        {snapshot, required + R"(,"fans":[{"id":0,"rpm":"1"}]})", false},
        {snapshot, required + R"(,"fans":[{"id":0,"rpm":1,"name":null,"maximumRPM":null}]})", true},
        {snapshot, required + R"(,"temperatures":[{"key":"TC0P","value":1e2}]})", true},
        {snapshot, required + R"(,"temperatures":[{"key":7,"value":1}]})", false},
        {snapshot, required + R"(,"accessories":[{"level":0.5}]})", false},
        {snapshot, required + R"(,"graphics":{"utilization":0.5,"tiler":null}})", true},
        {snapshot, required + R"(,"helperUID":-1})", false},
        {snapshot, required + R"(,"helperUID":4294967296})", false},
        {snapshot, required + R"(,"version":"2"})", false},
        {processes, R"({"ranked":[],"storage":[],)" + ids, true},
        {processes, R"({"ranked":[],)" + ids, false},
        {processes, R"({"ranked":[],"storage":null,)" + ids, false},
        {processes, R"({"ranked":[],"storage":[],"extra":1,)" + ids, true},
        {processes, R"({"ranked":[{"pid":1,"name":"a"}],"storage":[],)" + ids, false},
        {processes, rate + R"(1.5}],)" + ids, false},
        {processes, rate + R"(9223372036854775807}],)" + ids, true},
        {processes, rate + R"(9223372036854775808}],)" + ids, false},
        {cpu, R"({"processes":[],"residencies":{},)" + ids, true},
        {cpu, R"({"processes":[],)" + ids, false},
        {cpu, R"({"processes":[],"residencies":[],)" + ids, false},
        {cpu, R"({"processes":[],"residencies":{"ECPU":[1,"2"]},)" + ids, false},
        {cpu, R"({"processes":[],"residencies":{"ECPU":null},)" + ids, false},
        {cpu, R"({"processes":[],"residencies":{"X":[-1.5e3]},)" + ids, true},
        {storage, R"({"reading":{},"helperUID":1,"helperEffectiveUID":1})", true},
        {storage, R"({"reading":null,)" + ids, true},
        {storage, R"({"reading":{"life":null},)" + ids, true},
        {storage, R"({"reading":{},"helperEffectiveUID":1})", false},
        {storage, R"({"reading":[],)" + ids, false},
        {storage, R"({"reading":{"temperature":"40"},)" + ids, false},
        {storage, R"({"reading":{"temperature":40.5},)" + ids, false},
        {storage, R"({"reading":{"mediaErrors":-9223372036854775808},)" + ids, true},
        {storage, R"({"reading":{"mediaErrors":-9223372036854775809},)" + ids, false},
        {update, R"({"state":"available","version":"2.0"})", true},
        {update, R"({"state":"upToDate","version":null,"message":null,"other":0})", true},
        {update, R"({"state":"Busy"})", false},
        {update, R"({"state":"busy "})", false},
        {update, R"({"state":null})", false},
        {update, R"({"state":1})", false},
        {update, R"({"version":"2.0"})", false},
        {update, R"({"state":"failed","message":42})", false},
        {update, R"({"state":"busy","state":"Busy"})", false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.decodes(c.json), c.accepted) << c.json;
    }
}

// Integral numbers within the field's range, however written; a number with a fraction or
// exponent only where a double still names one integer.
TEST(DocumentCodecTest, IntegerFieldsTakeIntegralNumbersInTheirRange) {
    enum Field { uid, temperature };
    const struct {
        Field field;
        std::string_view number;
        std::optional<std::int64_t> expected; // nullopt: the document is rejected
    } cases[] = {
        {uid, "4294967296", std::nullopt},
        {uid, "-1", std::nullopt},
        {uid, "-0", 0},
        {uid, "501.0", 501},
        {uid, "5.01e2", 501},
        {uid, "4294967295.0", 4294967295},
        {uid, "4294967296.0", std::nullopt},
        {uid, "501.5", std::nullopt},
        {uid, "-1.0", std::nullopt},
        {uid, "18446744073709551616", std::nullopt},
        {uid, "true", std::nullopt},
        {temperature, "1e3", 1000},
        {temperature, "-0.0", 0},
        {temperature, "9007199254740991.0", 9007199254740991},
        {temperature, "9007199254740992.0", std::nullopt},
        {temperature, "-9.223372036854775808e18", std::nullopt},
        {temperature, "0.5", std::nullopt},
        {temperature, "1e400", std::nullopt},
        {temperature, "[1]", std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.number);
        const std::string number(c.number);
        const auto decoded = decodeStorageHealthSnapshot(
            c.field == uid ? R"({"helperUID":)" + number + R"(,"helperEffectiveUID":0})"
                           : R"({"reading":{"temperature":)" + number +
                                 R"(},"helperUID":0,"helperEffectiveUID":0})");
        ASSERT_EQ(decoded.has_value(), c.expected.has_value());
        if (decoded) {
            EXPECT_EQ(c.field == uid ? decoded->helperUID : decoded->reading->temperature,
                      c.expected);
        }
    }
}

TEST(DocumentCodecTest, AcceptsStandardEscapesAndWhitespace) {
    const auto decoded = decodeSensorCompanionUpdate(
        " {\n\t\"message\" : \"a\\/b \\u00e9\\ud83c\\udfa7\\n\", \"state\":\"failed\" } ");
    ASSERT_TRUE(decoded);
    EXPECT_EQ(decoded->message, "a/b \xC3\xA9\xF0\x9F\x8E\xA7\n");
    // Of duplicate keys the last one counts.
    EXPECT_EQ(decodeSensorCompanionUpdate(R"({"state":"busy","state":"available"})")->state,
              State::available);
}

TEST(DocumentCodecTest, BoundsNestingDepth) {
    const auto nested = [](std::size_t depth) {
        return R"({"state":"busy","x":)" + std::string(depth - 1, '[') +
               std::string(depth - 1, ']') + "}";
    };
    EXPECT_TRUE(decodeSensorCompanionUpdate(nested(maxDecodingDepth)));
    EXPECT_FALSE(decodeSensorCompanionUpdate(nested(maxDecodingDepth + 1)));
    EXPECT_FALSE(decodeSensorCompanionUpdate(std::string(1'000'000, '[')));
    // Brackets inside strings do not count.
    EXPECT_TRUE(decodeSensorCompanionUpdate(R"({"state":"busy","x":")" + std::string(1000, '[') +
                                            "\\\"\"}"));
}

} // namespace
} // namespace brivane
