#include "smc/smc_byte_conversions.h"
#include "smc/smc_output.h"
#include "smc/smc_value_decoding.h"
#include "smc_test_support.h"

#include <cmath>
#include <cstring>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <limits>
#include <span>
#include <thread>

namespace brivane::testing {
namespace {

using platform::SMCOpenFailure;
using platform::SMCOpenStep;

TEST(SMCOpen, ReportsEachFailedStepAndStaysUsableButUnopened) {
    const struct Row {
        SMCOpenFailure failure;
        std::string line;
    } rows[] = {
        {{SMCOpenStep::matchingServices, platform::kIOReturnError},
         "Error IOServiceGetMatchingServices(): (iokit/common) general error"},
        {{SMCOpenStep::serviceOpen, platform::kIOReturnBadArgument},
         "Error IOServiceOpen(): (iokit/common) invalid argument"},
    };
    for (const auto& row : rows) {
        CapturedLines lines;
        auto sim =
            std::make_shared<SimSMC>(platform::sim::withKeyCount({simKey("FNum", "ui8 ", {2})}));
        sim->failOpen(row.failure);
        auto smc = std::make_unique<SMC>(sim, lines.sink());
        EXPECT_EQ(lines.take(), std::vector<std::string>{row.line});

        EXPECT_FALSE(smc->getValue("FNum"));
        EXPECT_FALSE(smc->getStringValue("F0ID"));
        EXPECT_TRUE(smc->getAllKeys().empty());
        const std::string invalid = "(ipc/send) invalid destination port";
        EXPECT_EQ(lines.take(), (std::vector<std::string>{
                                    "Error read(FNum): " + invalid, "Error read(F0ID): " + invalid,
                                    "Error read(#KEY): " + invalid, "ERROR no keys count found"}));

        smc.reset();
        EXPECT_EQ(lines.take(), std::vector<std::string>{"error close smc connection: " + invalid});
    }
}

// Hands out error texts a platform might give that are not plain ASCII, or none at all.
class OddErrorTextTransport final : public platform::SMCTransport {
public:
    explicit OddErrorTextTransport(const char* text) : text_(text) {}
    platform::SMCOpenResult open() override {
        return {0, SMCOpenFailure{SMCOpenStep::serviceOpen, platform::kIOReturnError}};
    }
    platform::KernReturn call(std::uint32_t, std::uint32_t, platform::SMCInputBlock,
                              platform::SMCOutputBlock) override {
        return platform::kIOReturnError;
    }
    platform::KernReturn close(std::uint32_t) override { return platform::kIOReturnSuccess; }
    const char* errorText(platform::KernReturn) const override { return text_; }

private:
    const char* text_;
};

TEST(SMCOpen, ErrorTextThatIsNotASCIIOrNoneBecomesUnknownError) {
    for (const char* text : {"erreur g\xC3\xA9n\xC3\xA9rale", static_cast<const char*>(nullptr)}) {
        CapturedLines lines;
        SMC smc(std::make_shared<OddErrorTextTransport>(text), lines.sink());
        EXPECT_FALSE(smc.getValue("FNum"));
        EXPECT_EQ(lines.take(), (std::vector<std::string>{"Error IOServiceOpen(): unknown error",
                                                          "Error read(FNum): unknown error"}));
    }
}

using platform::kIOReturnBadArgument;
using platform::kIOReturnError;
using platform::kIOReturnNotFound;

// Key information once, then byte reads only; a request holds nothing but the key, the
// kind and the size, in host byte order.
TEST(SMCRead, AsksForKeyInformationOnceThenOnlyForBytes) {
    SMCHarness h({simKey("FNum", "ui8 ", {2})});
    h.sim->recordRequests(true);
    EXPECT_EQ(h.smc->getValue("FNum"), 2.0);
    EXPECT_EQ(h.smc->getValue("FNum"), 2.0);

    platform::SMCKeyData_t keyInfo;
    keyInfo.key = platform::fourCharCode("FNum");
    keyInfo.data8 = rawValue(platform::SMCKeys::readKeyInfo);
    auto bytes = keyInfo;
    bytes.data8 = rawValue(platform::SMCKeys::readBytes);
    bytes.keyInfo.dataSize = 1;
    const auto sent = [](const platform::SMCKeyData_t& block) {
        std::array<std::uint8_t, platform::kSMCParamBlockSize> raw{};
        std::memcpy(raw.data(), &block, raw.size());
        return raw;
    };
    EXPECT_EQ(h.sim->recordedRequests(), (std::vector{sent(keyInfo), sent(bytes), sent(bytes)}));
}

TEST(SMCRead, NeverCachesEmptyOversizedOrUntypedKeys) {
    std::vector<std::uint8_t> forty(40, 0);
    forty[0] = 7;
    forty[39] = 9;
    platform::sim::SimSMCKey untyped = simKey("UNTY", "ui8 ", {4});
    untyped.dataType = 0;
    SMCHarness h({simKey("EMTY", "ui8 ", {}), simKey("BIG!", "ui8 ", forty), untyped});

    for (const std::string_view key : {"EMTY", "BIG!", "UNTY"}) {
        h.sim->resetCounters();
        h.smc->getValue(key);
        h.smc->getValue(key);
        EXPECT_EQ(h.keyInfoRequests(), 2u) << key;
        EXPECT_EQ(h.byteRequests(), 2u) << key;
    }
    // The first 32 of 40 bytes arrive; the size-0 key is a success without a value.
    EXPECT_EQ(h.smc->getValue("BIG!"), 7.0);
    EXPECT_FALSE(h.smc->getValue("EMTY", true));
    EXPECT_TRUE(h.lines.take().empty());
}

TEST(SMCRead, RejectsMalformedKeyNamesWithoutAnyExchange) {
    SMCHarness h({simKey("FNum", "ui8 ", {2})});
    const std::string_view names[] = {"abc", "abcde", "", "F\xC3\xA9X", "FNum "};
    for (const auto name : names) {
        EXPECT_FALSE(h.smc->getValue(name));
        EXPECT_FALSE(h.smc->getStringValue(name));
        const auto lines = h.lines.take();
        ASSERT_EQ(lines.size(), 2u) << name;
        EXPECT_EQ(lines[0],
                  "Error read(" + std::string(name) + "): (iokit/common) invalid argument");
    }
    EXPECT_EQ(h.sim->totalExchanges(), 0u);
}

TEST(SMCRead, FailedReadsMapResultsAndKernelCodesAndEvictTheKey) {
    struct Row {
        std::string name;
        SimSMCFault fault;
        std::string text; // of the line getValue prints; none when empty
    };
    const std::uint32_t key = platform::fourCharCode("TC0P");
    const auto info = SimSMCFault::onRequest(9), bytes = SimSMCFault::onRequest(5);
    const std::string general = "(iokit/common) general error";
    const Row rows[] = {
        {"unknown key on key information", info.forKey(key).answering(0x84), ""},
        {"other result", info.forKey(key).answering(1), general},
        {"kernel code passes unchanged", info.failingWith(kIOReturnBadArgument),
         "(iokit/common) invalid argument"},
        {"kernel not-found is silent", bytes.failingWith(kIOReturnNotFound), ""},
        {"code without text", bytes.failingWith(static_cast<std::int32_t>(0xE00002C7)),
         "unknown error"},
    };
    for (const auto& row : rows) {
        SMCHarness h({simKey("TC0P", "sp78", {0x2D, 0x80})});
        h.sim->addFault(row.fault);
        SCOPED_TRACE(row.name);
        EXPECT_FALSE(h.smc->getValue("TC0P"));
        EXPECT_EQ(h.lines.take(), row.text.empty() ? std::vector<std::string>{}
                                                   : std::vector{"Error read(TC0P): " + row.text});
        h.sim->clearFaults();
        EXPECT_EQ(h.smc->getValue("TC0P"), 45.5);
        EXPECT_EQ(h.smc->getValue("TC0P"), 45.5);
        EXPECT_EQ(h.keyInfoRequests(), 2u); // a failed read leaves its key out of the cache
    }
    // A key the table does not hold.
    SMCHarness h;
    EXPECT_FALSE(h.smc->getValue("TC0P"));
    EXPECT_TRUE(h.lines.take().empty());
}

// Closing empties the cache even when it fails; destruction closes once and reports only a
// failure.
TEST(SMCClose, EmptiesTheCacheAndReportsOnlyAFailure) {
    SMCHarness h({simKey("FNum", "ui8 ", {2})});
    ASSERT_EQ(h.smc->getValue("FNum"), 2.0);
    h.sim->failClose(kIOReturnError);
    EXPECT_EQ(h.smc->close(), kIOReturnError);
    h.sim->resetCounters();
    EXPECT_FALSE(h.smc->getValue("FNum"));
    EXPECT_EQ(h.keyInfoRequests(), 1u); // the read starts over with key information
    EXPECT_EQ(h.byteRequests(), 0u);
    EXPECT_EQ(h.lines.take(),
              std::vector<std::string>{"Error read(FNum): (ipc/send) invalid destination port"});

    for (const bool failing : {false, true}) {
        SMCHarness fresh;
        if (failing)
            fresh.sim->failClose(kIOReturnError);
        fresh.smc.reset();
        EXPECT_EQ(fresh.sim->closeCount(), 1u);
        const std::string line = "error close smc connection: (iokit/common) general error";
        EXPECT_EQ(fresh.lines.take(), failing ? std::vector{line} : std::vector<std::string>{});
    }
}

std::vector<std::uint8_t> flt(float value) {
    const auto bytes = floatBytes(value);
    return {bytes.begin(), bytes.end()};
}

TEST(SMCGetStringValue, ReadsFanDescriptorsOnly) {
    std::vector<std::uint8_t> left(16, ' ');
    std::copy_n("\x01   Left", 8, left.begin());
    SMCHarness h({simKey("F0ID", "{fds", left),
                  simKey("F2ID", "{fds", std::vector<std::uint8_t>(16, 0)),
                  simKey("FNum", "ui8 ", {2}), simKey("F0Ac", "flt ", flt(1200.0f))});

    EXPECT_EQ(h.smc->getStringValue("F0ID"), "Left");
    EXPECT_FALSE(h.smc->getStringValue("F2ID"));
    EXPECT_FALSE(h.smc->getStringValue("F9ID"));
    EXPECT_TRUE(h.lines.take().empty());

    EXPECT_FALSE(h.smc->getStringValue("FNum"));
    EXPECT_FALSE(h.smc->getStringValue("F0Ac"));
    EXPECT_EQ(h.lines.take(),
              (std::vector<std::string>{"unsupported data type ui8  for key: FNum",
                                        "unsupported data type flt  for key: F0Ac"}));
}

// Names come out in index order, bytes above 0x7F as Latin-1 in UTF-8; an index that fails
// is left out.
TEST(SMCGetAllKeys, ListsKeysInIndexOrderSkippingFailedIndexes) {
    platform::sim::SimSMCKey odd = simKey("TC0P", "ui8 ", {1});
    odd.key = 0x54E93050; // 'T', 0xE9, '0', 'P'
    SMCHarness h({simKey("#KEY", "ui32", {0, 0, 0, 4}), simKey("TC0P", "sp78", {0x2D, 0x80}),
                  simKey("FNum", "ui8 ", {2}), odd});
    const std::string oddName = "T\xC3\xA9"
                                "0P";
    EXPECT_EQ(h.smc->getAllKeys(), (std::vector<std::string>{"#KEY", "TC0P", "FNum", oddName}));

    h.sim->addFault(SimSMCFault::onRequest(8).forIndex(1).answering(0x84));
    h.sim->addFault(
        SimSMCFault::onRequest(8).forIndex(2).failingWith(platform::kIOReturnError).times(1));
    EXPECT_EQ(h.smc->getAllKeys(), (std::vector<std::string>{"#KEY", oddName}));
    EXPECT_EQ(h.smc->getAllKeys(), (std::vector<std::string>{"#KEY", "FNum", oddName}));
    EXPECT_TRUE(h.lines.take().empty());
}

// "#KEY" is a float truncated to a count; what cannot be a count of 32-bit indexes is none.
TEST(SMCGetAllKeys, UsesTheTruncatedCountAndReportsAMissingOrImpossibleOne) {
    const struct Row {
        std::string name;
        std::optional<platform::sim::SimSMCKey> count;
        std::uint64_t indexRequests;
        bool reported = false; // "ERROR no keys count found"
    } rows[] = {
        {"fraction truncates", simKey("#KEY", "flt ", flt(2.7f)), 2},
        {"below one", simKey("#KEY", "flt ", flt(0.5f)), 0},
        {"not a number", simKey("#KEY", "flt ", flt(std::numeric_limits<float>::quiet_NaN())), 0},
        {"beyond 32-bit indexes", simKey("#KEY", "flt ", flt(5e9f)), 0},
        {"zero", simKey("#KEY", "ui32", {0, 0, 0, 0}), 0, true},
        {"missing", std::nullopt, 0, true},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        SMCHarness h({simKey("TC0P", "sp78", {0x2D, 0x80})});
        if (row.count)
            h.sim->setKey(*row.count);
        EXPECT_EQ(h.smc->getAllKeys().size(), row.indexRequests);
        EXPECT_EQ(h.indexRequests(), row.indexRequests);
        EXPECT_EQ(h.lines.take(), row.reported
                                      ? std::vector<std::string>{"ERROR no keys count found"}
                                      : std::vector<std::string>{});
    }
}

TEST(SMCConcurrency, ReadersOnSeveralThreadsShareOneCache) {
    const auto name = [](int i) { return "T" + std::string(1, static_cast<char>('A' + i)) + "0P"; };
    std::vector<platform::sim::SimSMCKey> keys;
    for (int i = 0; i < 20; ++i)
        keys.push_back(simKey(name(i), "sp78", {static_cast<std::uint8_t>(20 + i), 0x80}));
    SMCHarness h(platform::sim::withKeyCount(keys));

    std::vector<std::thread> threads;
    std::atomic<int> wrong{0};
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&] {
            for (int round = 0; round < 50; ++round) {
                for (int i = 0; i < 20; ++i)
                    wrong += h.smc->getValue(name(i)) != 20.5 + i;
            }
        });
    }
    threads.emplace_back([&] {
        for (int round = 0; round < 20; ++round)
            wrong += h.smc->getAllKeys().size() != 21;
    });
    for (auto& thread : threads)
        thread.join();
    EXPECT_EQ(wrong.load(), 0);
    // The lock covers the whole read, so each key's information was asked for exactly once.
    EXPECT_EQ(h.keyInfoRequests(), 21u);
    EXPECT_TRUE(h.lines.take().empty());
}

TEST(RepeatLimitedLines, ShowsEachLineOnceThenAtMostEveryTenMinutesWithItsRepeats) {
    auto clock = std::make_shared<platform::ManualUptimeClock>(0);
    std::vector<std::string> shown;
    const auto sink =
        repeatLimitedLineSink([&](std::string_view line) { shown.emplace_back(line); }, clock);
    const std::string fnum = "Error read(FNum): (ipc/send) invalid destination port";
    const std::string pstr = "Error read(PSTR): (ipc/send) invalid destination port";
    const std::pair<double, std::string> steps[] = {
        {0, fnum}, {0, pstr}, {1, fnum}, {599, fnum}, {600, fnum}, {600, pstr}, {1300, fnum}};
    for (const auto& [uptime, line] : steps) {
        clock->set(uptime);
        sink(line);
    }
    EXPECT_EQ(shown, (std::vector<std::string>{
                         fnum, pstr, fnum + " (repeated 2 times since last shown)", pstr, fnum}));
}

// "2d80" -> {0x2D, 0x80}
std::vector<std::uint8_t> hexBytes(std::string_view hex) {
    std::vector<std::uint8_t> bytes;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2) {
        bytes.push_back(
            static_cast<std::uint8_t>(std::stoul(std::string(hex.substr(i, 2)), nullptr, 16)));
    }
    return bytes;
}

// Reads one key of the given type and bytes (hexadecimal) through the simulated SMC.
void expectValue(std::string_view key, std::string_view type, std::string_view hex, bool allowZero,
                 std::optional<double> expected) {
    SCOPED_TRACE(std::string(key) + " \"" + std::string(type) + "\" " + std::string(hex));
    SMCHarness h({simKey(key, type, hexBytes(hex))});
    const auto value = h.smc->getValue(key, allowZero);
    ASSERT_EQ(value.has_value(), expected.has_value());
    if (value) {
        EXPECT_THAT(*value, ::testing::NanSensitiveDoubleEq(*expected));
    }
    EXPECT_TRUE(h.lines.take().empty());
}

constexpr std::nullopt_t none = std::nullopt;

struct DecodingRow {
    std::string_view type;
    std::string_view hex;
    std::optional<double> expected;
};

TEST(SMCGetValue, DecodesIntegersFixedPointAndFloatsButNoOtherTypes) {
    const DecodingRow rows[] = {
        {"ui8 ", "05", 5},     {"ui16", "1234", 4660}, {"ui32", "ffffffff", 4294967295},
        {"sp1e", "4000", 1},   {"spa5", "0040", 2},    {"sp78", "2d80", 45.5},
        {"sp78", "ff00", 255}, {"spf0", "0100", 256}};
    const double nan = std::nan(""), infinity = std::numeric_limits<double>::infinity();
    const DecodingRow floats[] = {
        {"flt ", "0000c842", 100}, {"flt ", "000020c2", -40}, {"flt ", "0000807f", infinity},
        {"flt ", "0000c07f", nan}, {"fpe2", "1f40", 2000},    {"fpe2", "1f43", 2000},
        {"fpe2", "ffff", 16383},   {"fp2e", "1234", none},    {"{fds", "00000000466e", none},
        {"si16", "0005", none},    {"ch8*", "6162", none}};
    for (const auto& table :
         {std::span<const DecodingRow>(rows), std::span<const DecodingRow>(floats)}) {
        for (const auto& row : table)
            expectValue("TEST", row.type, row.hex, false, row.expected);
    }
}

TEST(SMCGetValue, TreatsAllZeroAsNoReadingExceptForTheFiveModeKeys) {
    const struct Row {
        std::string_view key;
        bool allowZero;
        std::optional<double> expected;
    } rows[] = {{"FNum", false, none}, {"FNum", true, 0.0},  {"F1Md", false, 0.0},
                {"F0md", false, 0.0},  {"FS! ", false, 0.0}, {"f0md", false, none},
                {"F2Md", false, none}};
    for (const auto& row : rows)
        expectValue(row.key, "ui8 ", "00", row.allowZero, row.expected);
    expectValue("PSTR", "flt ", "00000000", true, 0.0);
    expectValue("EMTY", "ui8 ", "", true, none);
}

TEST(FanDescriptorName, TrimsBlanksButKeepsNulAndLatin1) {
    const struct Row {
        std::string_view name; // bytes 4 to 15
        std::string expected;
    } rows[] = {
        {"  Center\t   ", "Center"},
        {{"Right\0\0\0\0\0\0\0", 12}, {"Right\0\0\0\0\0\0\0", 12}},
        {"\xA0Main\xA0      ", "Main"},
        {"Main\n       ", "Main\n"},
        {"Caf\xE9        ", "Caf\xC3\xA9"},
        {"            ", ""},
    };
    for (const auto& row : rows) {
        SMCValueBytes bytes{};
        bytes[0] = 0x01;
        std::copy(row.name.begin(), row.name.end(), bytes.begin() + 4);
        bytes[16] = 'X'; // beyond the name field
        EXPECT_EQ(fanDescriptorName(bytes), row.expected) << row.name;
    }
}

} // namespace
} // namespace brivane::testing
