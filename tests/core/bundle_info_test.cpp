#include "platform/linux/bundle_info_linux.h"

#include <gtest/gtest.h>
#include <string>

namespace brivane::platform::linux_backend {
namespace {

constexpr const char* header =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\">\n<dict>\n";
constexpr const char* footer = "</dict>\n</plist>\n";

std::string plistWith(const std::string& entries) {
    return header + entries + footer;
}

TEST(BundleLocation, FindsContentsOnlyForExecutablesInsideMacOS) {
    EXPECT_EQ(bundleContentsOf("/opt/X.app/Contents/MacOS/companion"),
              std::filesystem::path("/opt/X.app/Contents"));
    EXPECT_EQ(bundleContentsOf("/usr/bin/companion"), std::nullopt);
    EXPECT_EQ(bundleContentsOf("/opt/X.app/Contents/companion"), std::nullopt);
    EXPECT_EQ(bundleContentsOf("/opt/X.app/Other/MacOS/companion"), std::nullopt);
    EXPECT_EQ(bundleContentsOf("companion"), std::nullopt);
}

TEST(InfoDictionary, ReadsStringsAndHidesValuesOfOtherTypes) {
    const auto info = infoDictionaryFromBytes(
        plistWith("<key>BrivaneTeamIdentifier</key><string>TEAM123</string>\n"
                  "<key>CFBundleShortVersionString</key><string>1.4.2</string>\n"
                  "<key>Empty</key><string></string>\n"
                  "<key>Number</key><integer>42</integer>\n"
                  "<key>Flag</key><true/>\n"));
    EXPECT_EQ(info->stringValue("BrivaneTeamIdentifier"), "TEAM123");
    EXPECT_EQ(info->stringValue("CFBundleShortVersionString"), "1.4.2");
    EXPECT_EQ(info->stringValue("Empty"), "");
    EXPECT_EQ(info->stringValue("Number"), std::nullopt);
    EXPECT_EQ(info->stringValue("Flag"), std::nullopt);
    EXPECT_EQ(info->stringValue("Missing"), std::nullopt);
}

TEST(InfoDictionary, AnythingButADictionaryIsEmpty) {
    for (const std::string& bytes :
         {std::string(), std::string("not a plist"), std::string("\0\0\0\0", 4),
          std::string("bplist00"),
          std::string("<?xml version=\"1.0\"?><plist version=\"1.0\"><array><string>x</string>"
                      "</array></plist>"),
          plistWith("<key>BrivaneTeamIdentifier</key><string>TEAM")}) {
        const auto info = infoDictionaryFromBytes(bytes);
        EXPECT_EQ(info->stringValue("BrivaneTeamIdentifier"), std::nullopt);
    }
}

TEST(InfoDictionary, MissingFileOrNoBundleMeansNoInformation) {
    EXPECT_EQ(infoDictionaryFromFile("/nonexistent/Contents/Info.plist")->stringValue("A"),
              std::nullopt);
    EXPECT_EQ(runningBundleInfo()->stringValue("BrivaneTeamIdentifier"), std::nullopt);
}

} // namespace
} // namespace brivane::platform::linux_backend
