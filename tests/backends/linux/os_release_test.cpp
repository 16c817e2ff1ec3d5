#include "backends/linux/os_release.h"

#include <gtest/gtest.h>

namespace brivane::platform::linux_backend {
namespace {

TEST(OSReleaseVersion, PadsTheDistributionVersionToThreeNumbers) {
    const std::vector<std::pair<std::string, OperatingSystemVersion>> cases = {
        {"NAME=\"Debian GNU/Linux\"\nVERSION_ID=\"12\"\nID=debian\n", {12, 0, 0}},
        {"VERSION_ID=22.04\n", {22, 4, 0}},
        {"VERSION_ID='3.19.1'", {3, 19, 1}},
        {"VERSION_ID=\"1.2.3.4\"\n", {1, 2, 3}},
        {"ID=arch\nBUILD_ID=rolling\n", {0, 0, 0}},
        {"VERSION_ID=\"12-beta\"\n", {12, 0, 0}},
        {"VERSION_ID=99999999999999999999\n", {999999999, 0, 0}},
    };
    for (const auto& [content, expected] : cases) {
        EXPECT_EQ(platform::linux_backend::parseOSReleaseVersion(content), expected) << content;
    }
}

} // namespace
} // namespace brivane::platform::linux_backend
