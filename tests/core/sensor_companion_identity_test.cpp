#include "core/sensor_companion_identity.h"

#include <gtest/gtest.h>

namespace brivane {
namespace {

namespace id = SensorCompanionIdentity;

// What the agent admits its clients with; tests/identity checks which signers it admits.
TEST(SensorCompanionIdentity, ClientRequirementForTheMakersClientListsEveryLocalBuild) {
    EXPECT_EQ(id::clientRequirement(id::client, "T1"),
              "anchor apple generic and\n"
              "((identifier \"dev.qorva.brivane\" and certificate "
              "leaf[field.1.2.840.113635.100.6.1.9] exists) or\n"
              "((identifier \"dev.qorva.brivane\" or identifier \"dev.qorva.brivane.beta\" or "
              "identifier \"dev.qorva.brivane.Verification\") and certificate "
              "leaf[subject.OU] = \"T1\"))");
}

} // namespace
} // namespace brivane
