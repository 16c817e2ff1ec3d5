#include "core/disk_name.h"

#include <gtest/gtest.h>
#include <string>

namespace brivane {
namespace {

TEST(StorageDiskName, AcceptsWholeDisksAndUpToThreeSlices) {
    for (const char* name : {"disk0", "disk12s3", "disk3s1s2s3", "disk123456", "disk1s123456"}) {
        EXPECT_TRUE(isStorageDiskName(name)) << name;
    }
}

TEST(StorageDiskName, RefusesEverythingThatIsNotExactlyADiskName) {
    const std::string withNul("disk0\0", 6);
    for (const std::string& name :
         {std::string(), std::string("disk"), std::string("disk0s"), std::string("disk1234567"),
          std::string("disk0s1s2s3s4"), std::string("/dev/disk0"), std::string("disk0\n"),
          std::string("disk0 "), std::string(" disk0"), std::string("Disk0"),
          std::string("disk0s1234567"), std::string("disk0x1"), std::string("disk-1"),
          std::string("disk\xd9\xa1"), withNul}) {
        EXPECT_FALSE(isStorageDiskName(name)) << name;
    }
}

} // namespace
} // namespace brivane
