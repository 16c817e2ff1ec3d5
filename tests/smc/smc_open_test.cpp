#include "smc_test_support.h"

#include <gtest/gtest.h>

namespace brivane::testing {
namespace {

using platform::SMCOpenFailure;
using platform::SMCOpenStep;

TEST(SMCOpen, ReportsEachFailedStepAndStaysUsableButUnopened) {
    struct Row {
        SMCOpenFailure failure;
        std::string line;
    };
    const Row rows[] = {
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

} // namespace
} // namespace brivane::testing
