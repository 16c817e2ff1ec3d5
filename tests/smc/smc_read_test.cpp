#include "smc_test_support.h"

#include <cstring>
#include <gtest/gtest.h>

namespace brivane::testing {
namespace {

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

    SMCKeyData_t keyInfo;
    keyInfo.key = fourCharCode("FNum");
    keyInfo.data8 = rawValue(SMCKeys::readKeyInfo);
    auto bytes = keyInfo;
    bytes.data8 = rawValue(SMCKeys::readBytes);
    bytes.keyInfo.dataSize = 1;
    const auto sent = [](const SMCKeyData_t& block) {
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
    const std::uint32_t key = fourCharCode("TC0P");
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
        if (failing) {
            fresh.sim->failClose(kIOReturnError);
        }
        fresh.smc.reset();
        EXPECT_EQ(fresh.sim->closeCount(), 1u);
        const std::string line = "error close smc connection: (iokit/common) general error";
        EXPECT_EQ(fresh.lines.take(), failing ? std::vector{line} : std::vector<std::string>{});
    }
}

} // namespace
} // namespace brivane::testing
