#include "formats/document_codec.h"
#include "formats/json_writer.h"

#include <gtest/gtest.h>
#include <limits>
#include <optional>
#include <string>

namespace brivane {
namespace {

using Snapshot = SensorSnapshot;
using State = SensorCompanionUpdate::State;

const double nan = std::numeric_limits<double>::quiet_NaN();
const double inf = std::numeric_limits<double>::infinity();

std::string writtenString(std::string_view text) {
    std::string out;
    JsonWriter(out).string(text);
    return out;
}

std::string writtenNumber(double value) {
    std::string out;
    JsonWriter writer(out);
    writer.number(value);
    return writer.ok() ? out : "<failed>";
}

// Strings escaped as JSON requires (and "/"), ill-formed UTF-8 as U+FFFD; numbers in the shortest
// form that reads back, and never a non-finite one.
TEST(JsonWriterTest, WritesEscapedStringsAndShortestNumbers) {
    const std::string fffd = "\xEF\xBF\xBD";
    const struct {
        std::string written;
        std::string expected;
    } cases[] = {
        {writtenString(""), R"("")"},
        {writtenString("a\nb\tc\rd\be\ff"), R"("a\nb\tc\rd\be\ff")"},
        {writtenString(std::string_view("nul\0end", 7)), R"("nul\u0000end")"},
        {writtenString("\x01\x1f\x7f"), R"("\u0001\u001f\u007f")"},
        // What a terminal would act on when the document is printed: C1 CSI, RLO, PDI.
        // NOLINTNEXTLINE(misc-misleading-bidirectional): the marks are what is tested
        {writtenString("\u009b2J \u202eab \u2069"), R"("\u009b2J \u202eab \u2069")"},
        {writtenString("Caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x8E\xA7"),
         "\"Caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x8E\xA7\""},
        {writtenString("\xC3\xA9\xE2\x82\"\n"), "\"\xC3\xA9" + fffd + "\\\"\\n\""},
        {writtenNumber(-0.0), "-0"},
        {writtenNumber(-12.25), "-12.25"},
        {writtenNumber(1e21), "1e+21"},
        {writtenNumber(5e-324), "5e-324"},
        {writtenNumber(1.0 / 3.0), "0.3333333333333333"},
        {writtenNumber(nan), "<failed>"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.written, c.expected);
}

const Snapshot example{2, {{"TC0P", 30.5}}, {{0, std::nullopt, 1200.0, std::nullopt}}, 501, 501};

template <typename Record, typename Decode>
void expectDocument(const Record& record, std::string_view json, Decode decode) {
    SCOPED_TRACE(json);
    EXPECT_EQ(encode(record), json);
    EXPECT_EQ(decode(json), record);
}

// Byte for byte: keys in order, absent optionals omitted at every level, texts escaped; and each
// document reads back as its record.
TEST(DocumentCodecTest, WritesExactDocumentsThatReadBack) {
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
                 std::vector<Snapshot::Reading>{},
                 Snapshot::GraphicsReading{0.42, 0.4, std::nullopt},
                 std::vector<Snapshot::AccessoryReading>{{"Keyboard", std::nullopt, 0.8},
                                                         {"Buds", "left", 1.0}},
                 false,
                 true,
                 true,
                 "1.4.2 (beta/2)"},
        R"({"version":1,"temperatures":[{"key":"TC0P","value":45.25},{"key":"Tp09","value":61}],)"
        R"("fans":[{"id":0,"name":"Left \"fan\"","rpm":2400.5,"maximumRPM":6000},)"
        R"({"id":1,"rpm":0}],"helperUID":4294967295,"helperEffectiveUID":0,"power":[],)"
        R"("graphics":{"utilization":0.42,"renderer":0.4},"accessories":[{"name":"Keyboard",)"
        R"("level":0.8},{"name":"Buds","part":"left","level":1}],"supportsProcessDetails":false,)"
        R"("supportsStorageHealth":true,"supportsManagement":true,)"
        R"x("companionVersion":"1.4.2 (beta\/2)"})x",
        decodeSensorSnapshot);
    // The battery and sources members come last, after every member a decoder of the old
    // document knows.
    Snapshot withBattery{2, {}, {}, 7, 8};
    withBattery.battery =
        Snapshot::BatteryReading{0.5, "charging", 18.0, std::nullopt, 4560.0, 0.875, 312};
    withBattery.sources = {{{"hwmon", false}}};
    expectDocument(
        withBattery,
        R"({"version":2,"temperatures":[],"fans":[],"helperUID":7,"helperEffectiveUID":8,)"
        R"("battery":{"level":0.5,"state":"charging","power":18,"timeToFull":4560,)"
        R"("health":0.875,"cycleCount":312},"sources":[{"name":"hwmon","up":false}]})",
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

    const StorageHealthSnapshot counters{StorageHealthReading{.temperature = -100,
                                                              .life = 0,
                                                              .totalRead = INT64_MAX,
                                                              .totalWritten = 2147483648,
                                                              .powerCycles = 1200,
                                                              .powerOnHours = 30000,
                                                              .availableSpare = 100,
                                                              .spareThreshold = 10,
                                                              .unsafeShutdowns = 37,
                                                              .mediaErrors = 4294967296,
                                                              .criticalWarning = 5,
                                                              .smartFailing = true,
                                                              .pendingSectors = 8,
                                                              .updated = 1700000000,
                                                              .serial = "S4EWNX0R"},
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
    std::vector<Snapshot> broken(3, example);
    broken[0].fans[0].maximumRPM = nan;
    broken[1].graphics = Snapshot::GraphicsReading{0.1, std::nullopt, -inf};
    broken[2].accessories = {{"Pen", std::nullopt, nan}};
    for (const Snapshot& snapshot : broken)
        expectFailure(snapshot);
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
        R"({"ranked":[],"storage":[{"pid":1,"name":"a","writeBytesPerSecond":0,)"
        R"("readBytesPerSecond":)";
    const struct {
        bool (*decodes)(std::string_view);
        std::string json;
        bool accepted;
    } cases[] = {
        {snapshot, required + R"(,"graphics":null,"power":null,"companionVersion":null})", true},
        {snapshot, required + R"(,"graphics":5})", false},
        {snapshot, required + R"(,"unknown":[1,{"x":null}]})", true},
        {snapshot, R"({"version":2,"temperatures":[],"helperUID":1,"helperEffectiveUID":1})",
         false},
        {snapshot,
         R"({"version":2,"fans":[],"temperatures":null,"helperUID":1,"helperEffectiveUID":1})",
         false},
        {snapshot, required + R"(,"fans":[{"id":0}]})", false},
        {snapshot, required + R"(,"fans":[{"id":0,"rpm":1,"name":null,"maximumRPM":null}]})", true},
        {processes, R"({"ranked":[],)" + ids, false},
        {processes, rate + R"(9223372036854775807}],)" + ids, true},
        {processes, rate + R"(9223372036854775808}],)" + ids, false},
        {cpu, R"({"processes":[],)" + ids, false},
        {cpu, R"({"processes":[],"residencies":[],)" + ids, false},
        {cpu, R"({"processes":[],"residencies":{"ECPU":[1,"2"]},)" + ids, false},
        {cpu, R"({"processes":[],"residencies":{"X":[-1.5e3]},)" + ids, true},
        {storage, R"({"reading":{"life":null},)" + ids, true},
        {storage, R"({"reading":{},"helperEffectiveUID":1})", false},
        {storage, R"({"reading":{"mediaErrors":-9223372036854775808},)" + ids, true},
        {storage, R"({"reading":{"mediaErrors":-9223372036854775809},)" + ids, false},
        {update, R"({"state":"available","version":"2.0"})", true},
        {update, R"({"state":"upToDate","version":null,"message":null,"other":0})", true},
        {update, R"({"state":"Busy"})", false},
        {update, R"({"state":1})", false},
        {update, R"({"version":"2.0"})", false},
        {update, R"({"state":"busy","state":"Busy"})", false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.decodes(c.json), c.accepted) << c.json;
}

// Integral numbers within the field's range, however written; a number with a fraction or
// exponent only where a double still names one integer.
TEST(DocumentCodecTest, IntegerFieldsTakeIntegralNumbersInTheirRange) {
    const struct {
        std::string_view number;
        std::optional<std::int64_t> uid; // nullopt: the document is rejected
        std::optional<std::int64_t> temperature;
    } cases[] = {
        {"-0", 0, 0},
        {"501.0", 501, 501},
        {"1e3", 1000, 1000},
        {"4294967295.0", 4294967295, 4294967295},
        {"4294967296.0", std::nullopt, 4294967296},
        {"-1.0", std::nullopt, -1},
        {"501.5", std::nullopt, std::nullopt},
        {"9007199254740991.0", std::nullopt, 9007199254740991},
        {"9007199254740992.0", std::nullopt, std::nullopt},
        {"-9.223372036854775808e18", std::nullopt, std::nullopt},
        {"18446744073709551616", std::nullopt, std::nullopt},
        {"1e400", std::nullopt, std::nullopt},
        {"true", std::nullopt, std::nullopt},
        {"[1]", std::nullopt, std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.number);
        const std::string number(c.number);
        const auto uid = decodeStorageHealthSnapshot(R"({"helperUID":)" + number +
                                                     R"(,"helperEffectiveUID":0})");
        const auto temperature =
            decodeStorageHealthSnapshot(R"({"reading":{"temperature":)" + number +
                                        R"(},"helperUID":0,"helperEffectiveUID":0})");
        EXPECT_EQ(uid ? std::optional<std::int64_t>(uid->helperUID) : std::nullopt, c.uid);
        EXPECT_EQ(temperature ? temperature->reading->temperature : std::nullopt, c.temperature);
    }
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

// The text itself, as RFC 8259 has it: what a string and a number may hold, what may surround
// the document, and a key given twice (the last one counts, as it does for a parsed tree).
TEST(DocumentCodecTest, ReadsStrictJsonText) {
    const struct {
        std::string text;
        std::optional<std::string> message; // nullopt: rejected
    } cases[] = {
        {R"({"state":"busy","message":"a\"\\\/\b\f\n\r\tz"})", "a\"\\/\b\f\n\r\tz"},
        {R"({"state":"busy","message":"\u00e9\ud83c\udfa7\u0000"})",
         std::string("\xC3\xA9\xF0\x9F\x8E\xA7\0", 7)},
        {R"({"state":"busy","message":"\ud83c"})", std::nullopt},
        {R"({"state":"busy","message":"\udfa7\ud83c"})", std::nullopt},
        {"{\"state\":\"busy\",\"message\":\"\xED\xA0\x80\"}", std::nullopt},
        {"{\"state\":\"busy\",\"message\":\"a\tb\"}", std::nullopt},
        {R"({"state":"busy","message":"\x41"})", std::nullopt},
        {"\xEF\xBB\xBF {\"state\":\"busy\",\"message\":\"\"}\r\n", ""},
        {R"({"state":"busy","message":"x"} {})", std::nullopt},
        {R"({"state":"busy","message":"x",})", std::nullopt},
        {R"({"state":"busy","message":"x","n":[01]})", std::nullopt},
        {R"({"state":"busy","message":"x","n":[1e400]})", std::nullopt},
        {R"({"state":"busy","message":"x","n":[-1e-400, 2.5E+3, -0]})", "x"},
        {R"({"state":"busy","message":1,"message":"later"})", "later"},
        {R"({"state":"busy","message":"first","message":1})", std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        const auto update = decodeSensorCompanionUpdate(c.text);
        ASSERT_EQ(update.has_value(), c.message.has_value());
        if (update) {
            EXPECT_EQ(update->message, c.message);
        }
    }
}

} // namespace
} // namespace brivane
