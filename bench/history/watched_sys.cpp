// Lays out the watched machine (bench/watched_machine.h) under a new folder, for benches that
// bind it over /sys from a shell script.
//
//   watched_sys FOLDER

#include "../watched_machine.h"

#include <cstdio>
#include <filesystem>
#include <system_error>

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: watched_sys FOLDER\n");
        return 2;
    }
    const brivane::testing::TempDir sys("watched-sys");
    brivane::bench::addWatchedMachine(sys);
    std::error_code error;
    std::filesystem::copy(sys.path(), argv[1],
                          std::filesystem::copy_options::recursive |
                              std::filesystem::copy_options::copy_symlinks,
                          error);
    if (error) {
        std::fprintf(stderr, "watched_sys: %s: %s\n", argv[1], error.message().c_str());
        return 1;
    }
    return 0;
}
