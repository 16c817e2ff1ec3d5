#include "backends/linux/gpu/drm_fdinfo.h"

#include <gtest/gtest.h>

namespace brivane::platform::linux_backend {
namespace {

// Regions summed across units and the client id (the walk over /proc covers the rest), then
// texts that are not usage stats or are malformed.
TEST(DrmFdinfo, RegionsSummedAndMalformedTextsRefused) {
    const auto intel = parseDrmFdinfo("drm-driver:\ti915\ndrm-client-id:\t7\n"
                                      "drm-total-system0:\t4 MiB\ndrm-total-stolen:\t512 KiB\n");
    ASSERT_TRUE(intel);
    EXPECT_EQ(intel->clientId, 7u);
    EXPECT_EQ(intel->totalBytes, (4u << 20) + (512u << 10));
    for (const char* bad :
         {"pos: 0\nflags: 02\n", "drm-driver:\n", "drm-driver: x\ndrm-engine-gfx: 5 ms\n",
          "drm-driver: x\ndrm-engine-capacity-gfx: 0\n", "drm-driver: x\ndrm-total-vram: 1 GiB\n",
          "drm-driver: x\ndrm-client-id: -1\n",
          "drm-driver: x\ndrm-total-a: 18446744073709551615 MiB\n"})
        EXPECT_FALSE(parseDrmFdinfo(bad)) << bad;
}

} // namespace
} // namespace brivane::platform::linux_backend
