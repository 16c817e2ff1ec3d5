#include "platform/linux/file_mapper_linux.h"
#include "platform/linux/os_version_linux.h"
#include "platform/linux/workspace_linux.h"
#include "support/temp_dir.h"
#include "update/signature_fixtures.h"

#include <cstdlib>
#include <gtest/gtest.h>

namespace brivane {
namespace {

using namespace brivane::platform;
using namespace brivane::platform::linux_backend;

TEST(OSReleaseVersion, PadsTheDistributionVersionToThreeNumbers) {
    const std::vector<std::pair<std::string, OperatingSystemVersion>> cases = {
        {"NAME=\"Debian GNU/Linux\"\nVERSION_ID=\"12\"\nID=debian\n", {12, 0, 0}},
        {"VERSION_ID=22.04\n", {22, 4, 0}},
        {"VERSION_ID='3.19.1'", {3, 19, 1}},
        {"VERSION_ID=\"1.2.3.4\"\n", {1, 2, 3}},
        {"ID=arch\nBUILD_ID=rolling\n", {0, 0, 0}},
        {"VERSION_ID=\"12-beta\"\n", {12, 0, 0}},
        {"VERSION_ID=99999999999999999999\n", {999999999, 0, 0}},
        {"", {0, 0, 0}},
    };
    for (const auto& [content, expected] : cases) {
        EXPECT_EQ(parseOSReleaseVersion(content), expected) << content;
    }
}

TEST(XdgWorkspace, CachesFollowXdgCacheHomeOnlyWhenAbsolute) {
    const char* savedCache = std::getenv("XDG_CACHE_HOME");
    const char* savedHome = std::getenv("HOME");
    const std::string keptCache = savedCache ? savedCache : "";
    const std::string keptHome = savedHome ? savedHome : "";
    XdgWorkspace workspace(nullptr);

    ::setenv("HOME", "/home/someone", 1);
    ::setenv("XDG_CACHE_HOME", "/var/cache/someone", 1);
    EXPECT_EQ(workspace.userCachesDirectory(), "/var/cache/someone");
    ::setenv("XDG_CACHE_HOME", "relative/cache", 1);
    EXPECT_EQ(workspace.userCachesDirectory(), "/home/someone/.cache");
    ::unsetenv("XDG_CACHE_HOME");
    EXPECT_EQ(workspace.userCachesDirectory(), "/home/someone/.cache");

    savedCache ? ::setenv("XDG_CACHE_HOME", keptCache.c_str(), 1) : ::unsetenv("XDG_CACHE_HOME");
    savedHome ? ::setenv("HOME", keptHome.c_str(), 1) : ::unsetenv("HOME");
}

TEST(MmapFileMapper, MapsEmptyAndRegularFilesAndRefusesOthers) {
    const testing::TempDir temp("brivane-mapper");
    const std::filesystem::path work = temp.path();
    std::ofstream(work / "empty");
    std::ofstream(work / "some") << "bytes";
    MmapFileMapper mapper;
    std::error_code error;
    EXPECT_TRUE(mapper.map((work / "empty").string(), error)->bytes().empty());
    const auto some = mapper.map((work / "some").string(), error);
    ASSERT_TRUE(some);
    EXPECT_EQ(
        std::string(reinterpret_cast<const char*>(some->bytes().data()), some->bytes().size()),
        "bytes");
    EXPECT_FALSE(mapper.map(work.string(), error));
    EXPECT_TRUE(error);
    EXPECT_FALSE(mapper.map((work / "missing").string(), error));
    EXPECT_EQ(error, std::errc::no_such_file_or_directory);
}

} // namespace
} // namespace brivane
