#include "platform/host/running_bundle.h"

#include <gtest/gtest.h>
#include <string>

namespace brivane::platform::host {
namespace {

using namespace std::string_literals;

std::string plistWith(const std::string& entries) {
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\">\n<dict>\n" +
           entries + "</dict>\n</plist>\n";
}

TEST(BundleLocation, FindsContentsOnlyForExecutablesInsideMacOS) {
    EXPECT_EQ(bundleContentsOf("/opt/X.app/Contents/MacOS/companion"),
              std::filesystem::path("/opt/X.app/Contents"));
    for (const char* outside : {"/usr/bin/companion", "/opt/X.app/Contents/companion",
                                "/opt/X.app/Other/MacOS/companion", "companion"}) {
        EXPECT_EQ(bundleContentsOf(outside), std::nullopt) << outside;
    }
}

TEST(InfoDictionary, ReadsStringsAndHidesValuesOfOtherTypes) {
    const auto info = infoDictionaryFromBytes(
        plistWith("<key>BrivaneTeamIdentifier</key><string>TEAM123</string>\n"
                  "<key>Empty</key><string></string>\n"
                  "<key>Number</key><integer>42</integer>\n"
                  "<key>Flag</key><true/>\n"));
    EXPECT_EQ(info->stringValue("BrivaneTeamIdentifier"), "TEAM123");
    EXPECT_EQ(info->stringValue("Empty"), "");
    for (const char* absent : {"Number", "Flag", "Missing"}) {
        EXPECT_EQ(info->stringValue(absent), std::nullopt) << absent;
    }
}

TEST(InfoDictionary, AnythingButAWholeDictionaryOrAMissingBundleHasNoValues) {
    std::vector<std::shared_ptr<const BundleInfo>> infos = {
        infoDictionaryFromFile("/nonexistent/Contents/Info.plist"), runningBundleInfo()};
    for (
        const std::string& bytes :
        {""s, "not a plist"s, "\0\0\0\0"s, "bplist00"s,
         "<?xml version=\"1.0\"?><plist version=\"1.0\"><array><string>x</string></array></plist>"s,
         plistWith("<key>BrivaneTeamIdentifier</key><string>TEAM")}) {
        infos.push_back(infoDictionaryFromBytes(bytes));
    }
    for (std::size_t index = 0; index < infos.size(); ++index) {
        EXPECT_EQ(infos[index]->stringValue("BrivaneTeamIdentifier"), std::nullopt) << index;
    }
}

} // namespace
} // namespace brivane::platform::host
