#include "formats/document_codec.h"

#include <cmath>
#include <gtest/gtest.h>
#include <limits>
#include <string>

namespace brivane {
namespace {

TEST(DetailSnapshotsCodecTest, CPUDetailsRoundTrip) {
    const CPUDetailsSnapshot original{{{1, "launchd", 0.0}, {4242, "kernel_task", 12.5}},
                                      {{"ECPU", {0.25, 0.5}}, {"PCPU", {}}, {"MCPU", {1e-9}}},
                                      0,
                                      4294967295u};
    const std::string json = encode(original);
    EXPECT_NE(json.find(R"({"pid":4242,"name":"kernel_task","usage":12.5})"), std::string::npos);
    EXPECT_EQ(decodeCPUDetailsSnapshot(json), original);
    EXPECT_EQ(encode(CPUDetailsSnapshot{{}, {}, 501, 502}),
              R"({"processes":[],"residencies":{},"helperUID":501,"helperEffectiveUID":502})");
}

TEST(DetailSnapshotsCodecTest, ProcessDetailsCarryOneFilledArray) {
    ProcessDetailsSnapshot storage{{}, {{88, "mds", 1048576, 0}}, 20, 20};
    EXPECT_EQ(encode(storage),
              R"({"ranked":[],"storage":[{"pid":88,"name":"mds","readBytesPerSecond":1048576,)"
              R"("writeBytesPerSecond":0}],"helperUID":20,"helperEffectiveUID":20})");

    ProcessDetailsSnapshot memory{.helperUID = 1, .helperEffectiveUID = 2};
    memory.ranked = {{9, "WindowServer", 734003200.0}};
    EXPECT_EQ(encode(memory),
              R"({"ranked":[{"pid":9,"name":"WindowServer","usage":734003200}],"storage":[],)"
              R"("helperUID":1,"helperEffectiveUID":2})");
    EXPECT_EQ(decodeProcessDetailsSnapshot(encode(memory)), memory);
    EXPECT_EQ(decodeProcessDetailsSnapshot(encode(storage)), storage);
}

TEST(DetailSnapshotsCodecTest, NonFiniteUsageFailsEncoding) {
    const CPUDetailsSnapshot cpu{{{1, "x", std::numeric_limits<double>::infinity()}}, {}, 0, 0};
    EXPECT_TRUE(encode(cpu).empty());
    const CPUDetailsSnapshot residency{{}, {{"ECPU", {std::nan("")}}}, 0, 0};
    EXPECT_TRUE(encode(residency).empty());
}

TEST(DetailSnapshotsCodecTest, DecodingRequiresEveryKey) {
    const auto decodes = [](std::string_view json) {
        return json.starts_with(R"({"processes")") ? decodeCPUDetailsSnapshot(json).has_value()
                                                   : decodeProcessDetailsSnapshot(json).has_value();
    };
    const struct {
        std::string_view json;
        bool decodes;
    } cases[] = {
        {R"({"ranked":[],"storage":[],"helperUID":0,"helperEffectiveUID":0})", true},
        {R"({"ranked":[],"helperUID":0,"helperEffectiveUID":0})", false},
        {R"({"ranked":[],"storage":null,"helperUID":0,"helperEffectiveUID":0})", false},
        {R"({"ranked":[],"storage":[],"helperUID":0,"helperEffectiveUID":0,"extra":1})", true},
        {R"({"ranked":[{"pid":1,"name":"a"}],"storage":[],"helperUID":0,"helperEffectiveUID":0})",
         false},
        {R"({"ranked":[],"storage":[{"pid":1,"name":"a","readBytesPerSecond":1.5,)"
         R"("writeBytesPerSecond":0}],"helperUID":0,"helperEffectiveUID":0})",
         false},
        {R"({"ranked":[],"storage":[{"pid":1,"name":"a","readBytesPerSecond":9223372036854775807,)"
         R"("writeBytesPerSecond":0}],"helperUID":0,"helperEffectiveUID":0})",
         true},
        {R"({"ranked":[],"storage":[{"pid":1,"name":"a","readBytesPerSecond":9223372036854775808,)"
         R"("writeBytesPerSecond":0}],"helperUID":0,"helperEffectiveUID":0})",
         false},
        {R"({"processes":[],"residencies":{},"helperUID":0,"helperEffectiveUID":0})", true},
        {R"({"processes":[],"helperUID":0,"helperEffectiveUID":0})", false},
        {R"({"processes":[],"residencies":[],"helperUID":0,"helperEffectiveUID":0})", false},
        {R"({"processes":[],"residencies":{"ECPU":[1,"2"]},"helperUID":0,"helperEffectiveUID":0})",
         false},
        {R"({"processes":[],"residencies":{"ECPU":null},"helperUID":0,"helperEffectiveUID":0})",
         false},
        {R"({"processes":[],"residencies":{"X":[-1.5e3]},"helperUID":0,"helperEffectiveUID":0})",
         true},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(decodes(c.json), c.decodes) << c.json;
    }
}

} // namespace
} // namespace brivane
