#include "backends/posix/system/replaced_file.h"
#include "support/child_process.h"
#include "support/temp_dir.h"

#include <atomic>
#include <csignal>
#include <filesystem>
#include <functional>
#include <gtest/gtest.h>
#include <random>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>

namespace brivane::platform::posix {
namespace {

namespace fs = std::filesystem;

std::vector<std::string> namesIn(const std::string& folder) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder)) {
        names.push_back(entry.path().filename());
    }
    std::sort(names.begin(), names.end());
    return names;
}

// Whatever stood at the path: a longer file leaves no tail, a symbolic link is replaced rather
// than followed, a folder refuses; the mode is the one asked for whatever the umask, and no
// temporary is left beside either way.
TEST(ReplaceFile, ReplacesWhatStandsThereAndLeavesNothingBeside) {
    const std::pair<const char*, std::function<void(const testing::TempDir&)>> cases[] = {
        {"nothing", [](const auto&) {}},
        {"a longer file", [](const auto& dir) { dir.write("target", std::string(1 << 20, 'o')); }},
        {"a link to a file elsewhere",
         [](const auto& dir) { dir.symlink("target", "other/file"); }},
        {"a folder", [](const auto& dir) { dir.makeDirectory("target"); }},
    };
    for (const auto& [what, arrange] : cases) {
        SCOPED_TRACE(what);
        const testing::TempDir dir;
        dir.write("other/file", "untouched");
        arrange(dir);
        const bool folder = fs::is_directory(dir / "target");
        EXPECT_EQ(replaceFile(dir / "target", "new", 0664).has_value(), folder);
        EXPECT_EQ(testing::readFile(dir / "other/file"), "untouched");
        EXPECT_EQ(namesIn(dir.path()), (std::vector<std::string>{"other", "target"}));
        struct stat status {};
        ASSERT_EQ(::lstat((dir / "target").c_str(), &status), 0);
        if (!folder) {
            EXPECT_TRUE(S_ISREG(status.st_mode) && (status.st_mode & 07777) == 0664);
            EXPECT_EQ(testing::readFile(dir / "target"), "new");
        }
    }
}

// Writers stopped while they replace the file leave the old text or the new one, whole.
// SIGTERM waits for the rename; of 300 killed at random moments, some die between naming the
// temporary and renaming it, and the next writer a run later removes what they left, but not a
// temporary as young as a live writer's. A target name of 255 bytes, the most a folder takes, is
// written.
TEST(ReplaceFile, StoppedWritersLeaveTheOldTextOrTheNewAndTheNextOneSweeps) {
    testing::TempDir directory;
    const std::string target = directory / std::string(255, 'n');
    ASSERT_FALSE(replaceFile(target, "first\n", 0644, FolderLink::refused));
    const std::string text(64 << 10, 'x');
    std::minstd_rand random(21);
    for (int run = 0; run < 300; ++run) {
        const pid_t writer = ::fork();
        if (writer == 0) {
            for (;;) {
                (void)replaceFile(target, text, 0644, FolderLink::refused);
            }
        }
        std::this_thread::sleep_for(std::chrono::microseconds(random() % 3000));
        ::kill(writer, run % 2 ? SIGKILL : SIGTERM);
        ::waitpid(writer, nullptr, 0);
        const auto seen = testing::readFile(target);
        ASSERT_TRUE(seen == "first\n" || seen == text) << seen.size() << " bytes";
    }
    // One left for certain, as the storm may not hit the moment.
    const std::string temporary = "." + std::string(247, 'n') + ".";
    directory.write(temporary + "Zz9Yy8", "");
    for (const auto& entry : fs::directory_iterator(directory.path())) {
        fs::last_write_time(entry, fs::last_write_time(entry) - std::chrono::minutes(2));
    }
    directory.write(temporary + "Ab3dE9", "");
    ASSERT_FALSE(replaceFile(target, "last\n", 0644, FolderLink::refused));
    EXPECT_EQ(namesIn(directory.path()),
              (std::vector<std::string>{temporary + "Ab3dE9", std::string(255, 'n')}));
}

// Another user who can rename entries beside the folder swaps it for a link to a folder of
// ours between two looks: the file and its temporaries once landed there, and stayed.
TEST(ReplaceFile, AFolderSwappedForALinkGetsNothingWritten) {
    testing::TempDir directory;
    directory.makeDirectory("private");
    directory.symlink("out", "private");
    EXPECT_TRUE(replaceFile(directory / "out/file", "x\n", 0644, FolderLink::refused));
    const auto out = directory / "out", held = directory / "held";
    fs::remove(out);
    fs::create_directory(out);
    std::atomic<bool> writing = true;
    std::thread swapper([&] {
        while (writing) {
            fs::rename(out, held);
            fs::create_directory_symlink("private", out);
            fs::remove(out);
            fs::rename(held, out);
        }
    });
    for (int write = 0; write < 300; ++write) {
        (void)replaceFile(out + "/file", "x\n", 0644, FolderLink::refused);
    }
    writing = false;
    swapper.join();
    EXPECT_TRUE(fs::is_empty(directory / "private"));
}

} // namespace
} // namespace brivane::platform::posix
