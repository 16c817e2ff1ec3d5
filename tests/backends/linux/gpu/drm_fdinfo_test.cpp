#include "backends/linux/gpu/drm_fdinfo.h"

#include <gtest/gtest.h>

namespace brivane::platform::linux_backend {
namespace {

// An i915 client with two video engines, an amdgpu client on an older kernel (drm-memory-*),
// and texts that are not usage stats or are malformed.
TEST(DrmFdinfo, EnginesByCapacityMemoryInBytesAndMalformedTextsRefused) {
    const auto intel =
        parseDrmFdinfo("pos:\t0\nflags:\t02100002\nmnt_id:\t26\nino:\t1092\n"
                       "drm-driver:\ti915\ndrm-pdev:\t0000:00:02.0\n"
                       "drm-client-id:\t7\ndrm-engine-render:\t9288864723 ns\n"
                       "drm-engine-video:\t2000 ns\ndrm-engine-capacity-video:\t2\n"
                       "drm-total-system0:\t4 MiB\ndrm-total-stolen-system0:\t512 KiB\n"
                       "drm-resident-system0:\t3 MiB\n");
    ASSERT_TRUE(intel);
    EXPECT_EQ(intel->driver, "i915");
    EXPECT_EQ(intel->pciAddress, "0000:00:02.0");
    EXPECT_EQ(intel->clientId, 7u);
    EXPECT_EQ(intel->engineNanoseconds,
              (std::map<std::string, double>{{"render", 9288864723.0}, {"video", 1000.0}}));
    EXPECT_EQ(intel->totalBytes, (4u << 20) + (512u << 10));
    EXPECT_EQ(intel->residentBytes, 3u << 20);

    const auto amd = parseDrmFdinfo("drm-driver: amdgpu\ndrm-client-id: 12\n"
                                    "drm-engine-gfx: 100 ns\ndrm-memory-vram: 1024 KiB\n"
                                    "drm-memory-gtt: 2048\n");
    ASSERT_TRUE(amd);
    EXPECT_EQ(amd->residentBytes, (1024u << 10) + 2048u);
    EXPECT_EQ(amd->totalBytes, std::nullopt);

    for (const char* bad :
         {"pos: 0\nflags: 02\n", "drm-driver:\n", "drm-driver: x\ndrm-engine-gfx: 5 ms\n",
          "drm-driver: x\ndrm-engine-capacity-gfx: 0\n", "drm-driver: x\ndrm-total-vram: 1 GiB\n",
          "drm-driver: x\ndrm-client-id: -1\n",
          "drm-driver: x\ndrm-total-a: 18446744073709551615 MiB\n"})
        EXPECT_FALSE(parseDrmFdinfo(bad)) << bad;
}

} // namespace
} // namespace brivane::platform::linux_backend
