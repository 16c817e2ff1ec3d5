#include "backends/posix/system/running_bundle.h"

#include <gtest/gtest.h>
#include <string>

namespace brivane::platform::posix {
namespace {

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

// Values of other types read as absent, and so does everything in a truncated or foreign file.
TEST(InfoDictionary, ReadsOnlyStringsOfAWholeDictionary) {
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
    std::vector<std::shared_ptr<const BundleInfo>> empty = {
        infoDictionaryFromFile("/nonexistent/Contents/Info.plist"), runningBundleInfo(),
        infoDictionaryFromBytes("<?xml version=\"1.0\"?><plist version=\"1.0\"><array>"
                                "<string>x</string></array></plist>"),
        infoDictionaryFromBytes(plistWith("<key>BrivaneTeamIdentifier</key><string>TEAM"))};
    for (std::size_t index = 0; index < empty.size(); ++index) {
        EXPECT_EQ(empty[index]->stringValue("BrivaneTeamIdentifier"), std::nullopt) << index;
    }
}

} // namespace
} // namespace brivane::platform::posix
