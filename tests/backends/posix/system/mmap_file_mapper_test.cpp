#include "backends/posix/system/mmap_file_mapper.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>
#include <system_error>

namespace brivane {
namespace {

using namespace brivane::platform::posix;

TEST(MmapFileMapper, MapsEmptyFilesAndRefusesOthers) {
    const testing::TempDir temp("brivane-mapper");
    temp.write("empty", "");
    MmapFileMapper mapper;
    std::error_code error;
    EXPECT_TRUE(mapper.map(temp / "empty", error)->bytes().empty());
    EXPECT_FALSE(mapper.map(temp.path(), error));
    EXPECT_TRUE(error);
    EXPECT_FALSE(mapper.map(temp / "missing", error));
    EXPECT_EQ(error, std::errc::no_such_file_or_directory);
}

} // namespace
} // namespace brivane
