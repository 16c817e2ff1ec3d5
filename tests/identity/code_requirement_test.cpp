#include "identity/code_requirement.h"
#include "identity/sensor_companion_identity.h"

#include <gtest/gtest.h>
#include <tuple>

namespace brivane::identity {
namespace {

namespace id = SensorCompanionIdentity;
using platform::PeerSignature;
using namespace std::string_literals;

constexpr const char* appleExtension = "1.2.840.113635.100.6.1.9";

TEST(CodeRequirementParsing, AcceptsWhatTheCompanionWritesAndRejectsEverythingElse) {
    for (const std::string& text :
         {id::clientRequirement(id::client, "BRVNDEV000"),
          id::clientRequirement("dev.qorva.brivane.beta", "T"), id::clientRequirement("x", ""),
          id::requirement("dev.qorva.brivane", "BRVNDEV000"), "anchor apple generic"s,
          " \t\n( identifier \"a\" )\n"s,
          std::string(60, '(') + "anchor apple generic" + std::string(60, ')')}) {
        EXPECT_TRUE(CodeRequirement::parse(text)) << text;
    }
    for (const char* text :
         {"", "   \n", "anchor apple", "anchor apple generic and", "or identifier \"a\"",
          "Anchor apple generic", "anchor apple generic AND identifier \"a\"", "anchor trusted",
          "anchor apple genericand identifier \"a\"", "identifier a", "identifier = \"a\"",
          "identifier \"a", "identifier \"a\\\"b\"", "identifier \"a\" identifier \"b\"",
          "(identifier \"a\"", "identifier \"a\")", "()", "! identifier \"a\""}) {
        EXPECT_FALSE(CodeRequirement::parse(text)) << text;
    }
    for (const char* clause :
         {"certificate leaf[subject.CN] = \"a\"", "certificate leaf [subject.OU] = \"a\"",
          "certificate leaf[subject.OU] exists", "certificate leaf[field.1.2] = \"a\"",
          "certificate leaf[field.1..2] exists", "certificate leaf[field.] exists",
          "certificate leaf[field.1.x] exists", "certificate leaf[field.1.2 exists",
          "certificate 1[field.1.2] exists", "certificate root[subject.OU] = \"a\""}) {
        EXPECT_FALSE(CodeRequirement::parse(clause)) << clause;
    }
    EXPECT_FALSE(CodeRequirement::parse("anchor apple generic\0"s));
    EXPECT_FALSE(CodeRequirement::parse(std::string(100, '(') + "anchor apple generic" +
                                        std::string(100, ')')));
}

PeerSignature signedBy(std::string identifier, std::string unit, bool anchored = true,
                       std::vector<std::string> extensions = {}) {
    return {anchored, std::move(identifier), std::move(unit), std::move(extensions)};
}

TEST(CodeRequirementEvaluation, ClientRequirementAdmitsExactlyTheListedSigners) {
    const auto requirement = CodeRequirement::parse(id::clientRequirement(id::client, "TEAM1"));
    ASSERT_TRUE(requirement);
    const struct Case {
        const char* name;
        PeerSignature signature;
        bool admitted;
    } cases[] = {
        {"beta", signedBy("dev.qorva.brivane.beta", "TEAM1"), true},
        {"verification", signedBy("dev.qorva.brivane.Verification", "TEAM1"), true},
        {"case variant", signedBy("dev.qorva.brivane.verification", "TEAM1"), false},
        {"team is a prefix", signedBy("dev.qorva.brivane", "TEAM"), false},
        {"not anchored", signedBy("dev.qorva.brivane", "TEAM1", false), false},
        {"extension, foreign team", signedBy("dev.qorva.brivane", "X", true, {appleExtension}),
         true},
        {"extension, wrong identifier",
         signedBy("dev.qorva.brivane.beta", "X", true, {appleExtension}), false},
        {"extension, not anchored", signedBy("dev.qorva.brivane", "X", false, {appleExtension}),
         false},
        {"neighbouring extension", signedBy("dev.qorva.brivane", "X", true, {"1.2.840.113635"}),
         false},
        {"no identifier", PeerSignature{true, std::nullopt, "TEAM1", {}}, false},
        {"no unit", PeerSignature{true, "dev.qorva.brivane", std::nullopt, {}}, false},
        {"nothing", PeerSignature{}, false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(requirement->isSatisfiedBy(c.signature), c.admitted) << c.name;
}

TEST(CodeRequirementEvaluation, AndBindsTighterThanOrAndAnEmptyTeamMatchesOnlyAnEmptyUnit) {
    // Read as (identifier a and OU x) or identifier b; the other grouping would refuse b.
    const std::string ungrouped =
        "identifier \"a\" and certificate leaf[subject.OU] = \"x\" or identifier \"b\"";
    const std::string grouped =
        "identifier \"a\" and (certificate leaf[subject.OU] = \"x\" or identifier \"b\")";
    const std::string emptyTeam = id::requirement("a", "");
    const std::tuple<std::string, PeerSignature, bool> cases[] = {
        {ungrouped, signedBy("b", "y"), true},  {ungrouped, signedBy("a", "x"), true},
        {ungrouped, signedBy("a", "y"), false}, {grouped, signedBy("b", "y"), false},
        {emptyTeam, signedBy("a", ""), true},   {emptyTeam, {true, "a", std::nullopt, {}}, false}};
    for (const auto& [text, signature, admitted] : cases) {
        const auto requirement = CodeRequirement::parse(text);
        ASSERT_TRUE(requirement) << text;
        EXPECT_EQ(requirement->isSatisfiedBy(signature), admitted) << text;
    }
}

} // namespace
} // namespace brivane::identity
