#include "core/sensor_companion_identity.h"

#include <algorithm>
#include <gtest/gtest.h>

namespace brivane {
namespace {

namespace id = SensorCompanionIdentity;

TEST(SensorCompanionIdentity, ServiceName) {
    EXPECT_EQ(id::service("ABCDE12345"), "ABCDE12345.dev.qorva.brivane.sensors.snapshot");
    EXPECT_EQ(id::service(""), ".dev.qorva.brivane.sensors.snapshot");
}

TEST(SensorCompanionIdentity, SingleIdentifierRequirement) {
    EXPECT_EQ(id::requirement("dev.qorva.brivane", "T1"),
              "anchor apple generic and identifier \"dev.qorva.brivane\" and certificate "
              "leaf[subject.OU] = \"T1\"");
}

TEST(SensorCompanionIdentity, ClientRequirementForTheMakersClientListsEveryLocalBuild) {
    EXPECT_EQ(id::clientRequirement(id::client, "T1"),
              "anchor apple generic and\n"
              "((identifier \"dev.qorva.brivane\" and certificate "
              "leaf[field.1.2.840.113635.100.6.1.9] exists) or\n"
              "((identifier \"dev.qorva.brivane\" or identifier \"dev.qorva.brivane.beta\" or "
              "identifier \"dev.qorva.brivane.Verification\") and certificate "
              "leaf[subject.OU] = \"T1\"))");
}

TEST(SensorCompanionIdentity, OtherClientsGetASingleIdentifierThirdLine) {
    struct Case {
        const char* client;
    };
    // Exact, case-sensitive comparison: a case variant of the maker's client is foreign.
    for (const Case c : {Case{"dev.qorva.brivane.beta"}, Case{"Dev.Qorva.Brivane"}}) {
        const std::string text = id::clientRequirement(c.client, "T\"X");
        const std::string clause = std::string("identifier \"") + c.client + "\"";
        EXPECT_EQ(text, "anchor apple generic and\n((" + clause +
                            " and certificate leaf[field.1.2.840.113635.100.6.1.9] exists) or\n((" +
                            clause + ") and certificate leaf[subject.OU] = \"T\"X\"))");
        EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 2);
    }
}

} // namespace
} // namespace brivane
