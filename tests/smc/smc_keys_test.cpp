#include "smc/smc_byte_conversions.h"
#include "smc_test_support.h"

#include <gtest/gtest.h>
#include <limits>
#include <thread>

namespace brivane::testing {
namespace {

std::vector<std::uint8_t> flt(float value) {
    const auto bytes = floatBytes(value);
    return {bytes.begin(), bytes.end()};
}

TEST(SMCGetStringValue, ReadsFanDescriptorsOnly) {
    std::vector<std::uint8_t> left(16, ' ');
    std::copy_n("\x01   Left", 8, left.begin());
    SMCHarness h({simKey("F0ID", "{fds", left),
                  simKey("F1ID", "{fds", std::vector<std::uint8_t>(16, ' ')),
                  simKey("F2ID", "{fds", std::vector<std::uint8_t>(16, 0)),
                  simKey("FNum", "ui8 ", {2}), simKey("F0Ac", "flt ", flt(1200.0f))});

    EXPECT_EQ(h.smc->getStringValue("F0ID"), "Left");
    EXPECT_EQ(h.smc->getStringValue("F1ID"), "");
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
    struct Row {
        std::string name;
        std::optional<platform::sim::SimSMCKey> count;
        std::uint64_t indexRequests;
        bool reported = false; // "ERROR no keys count found"
    };
    const Row rows[] = {
        {"fraction truncates", simKey("#KEY", "flt ", flt(2.7f)), 2},
        {"below one", simKey("#KEY", "flt ", flt(0.5f)), 0},
        {"not a number", simKey("#KEY", "flt ", flt(std::numeric_limits<float>::quiet_NaN())), 0},
        {"infinite", simKey("#KEY", "flt ", flt(std::numeric_limits<float>::infinity())), 0},
        {"beyond 32-bit indexes", simKey("#KEY", "flt ", flt(5e9f)), 0},
        {"zero", simKey("#KEY", "ui32", {0, 0, 0, 0}), 0, true},
        {"missing", std::nullopt, 0, true},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        SMCHarness h({simKey("TC0P", "sp78", {0x2D, 0x80})});
        if (row.count) {
            h.sim->setKey(*row.count);
        }
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
    for (int i = 0; i < 20; ++i) {
        keys.push_back(simKey(name(i), "sp78", {static_cast<std::uint8_t>(20 + i), 0x80}));
    }
    SMCHarness h(platform::sim::withKeyCount(keys));

    std::vector<std::thread> threads;
    std::atomic<int> wrong{0};
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&] {
            for (int round = 0; round < 50; ++round) {
                for (int i = 0; i < 20; ++i) {
                    wrong += h.smc->getValue(name(i)) != 20.5 + i;
                }
            }
        });
    }
    threads.emplace_back([&] {
        for (int round = 0; round < 20; ++round) {
            wrong += h.smc->getAllKeys().size() != 21;
        }
    });
    for (auto& thread : threads) {
        thread.join();
    }
    EXPECT_EQ(wrong.load(), 0);
    // The lock covers the whole read, so each key's information was asked for exactly once.
    EXPECT_EQ(h.keyInfoRequests(), 21u);
    EXPECT_TRUE(h.lines.take().empty());
}

} // namespace
} // namespace brivane::testing
