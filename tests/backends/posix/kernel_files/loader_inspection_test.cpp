#include "backends/posix/kernel_files/loader_inspection.h"

#include <gtest/gtest.h>

namespace brivane::platform::posix {
namespace {

using namespace std::string_literals;

TEST(LoaderInspection, FindsLoaderVariablesAndCodeFromOutsideTheLibraryFolders) {
    EXPECT_EQ(loaderVariablesIn("HOME=/h\0LD_PRELOAD=/h/x.so\0LD_AUDIT=\0LD_PRELOADX=1\0"
                                "OPENSSL_CONF=/h/c\0LD_PRELOAD=again\0LD_LIBRARY_PATH"s),
              (std::vector<std::string>{"LD_PRELOAD", "OPENSSL_CONF"}));
    const auto maps = "55d0-55d1 r-xp 00001000 08:01 7 /opt/agent (deleted)\n"
                      "7f00-7f01 r-xp 00002000 08:01 8 /usr/lib/x86_64-linux-gnu/libc.so.6\n"
                      "7f01-7f02 r--p 00000000 08:01 9 /home/u/data.bin\n"
                      "7f02-7f03 r-xp 00000000 08:01 10                         /home/u/a b.so\n"
                      "7f03-7f04 r-xp 00000000 00:01 11 /memfd:x (deleted)\n"
                      "7f04-7f05 r-xp 00000000 00:00 0 \n"
                      "7f05-7f06 r-xp 00000000 08:01 12 /usr/libexec/../lib/x.so\n"
                      "7f06-7f07 r-xp 00003000 08:01 10 /home/u/a b.so\n"
                      "7ffd-7ffe r-xp 00000000 00:00 0 [vdso]\n"s;
    EXPECT_EQ(foreignObjectsIn(maps, "/opt/agent (deleted)"),
              (std::vector<std::string>{"/home/u/a b.so", "/memfd:x (deleted)",
                                        "/usr/libexec/../lib/x.so"}));
    EXPECT_EQ(describe({{"LD_PRELOAD"}, {"/h/x.so"}}),
              "was started with LD_PRELOAD and maps /h/x.so from outside the system's library "
              "folders");
}

} // namespace
} // namespace brivane::platform::posix
