#include "backends/posix/system/replaced_file.h"
#include "support/temp_dir.h"

#include <atomic>
#include <filesystem>
#include <fstream>
#include <functional>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <thread>

namespace brivane::platform::posix {
namespace {

namespace fs = std::filesystem;

std::string contentsOf(const std::string& path) {
    std::ifstream file(path);
    return {std::istreambuf_iterator<char>(file), {}};
}

std::vector<std::string> namesIn(const std::string& folder) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder)) {
        names.push_back(entry.path().filename());
    }
    std::sort(names.begin(), names.end());
    return names;
}

// Whatever stood at the path: a longer file leaves no tail, a symbolic link is replaced and not
// followed, a folder refuses, and no temporary is left beside it either way.
TEST(ReplaceFile, ReplacesWhatStandsThereAndLeavesNothingBeside) {
    const struct {
        const char* what;
        std::function<void(const testing::TempDir&)> arrange;
        FolderLink folderLink;
        bool replaced;
    } cases[] = {
        {"nothing", [](const auto&) {}, FolderLink::refused, true},
        {"a longer file",
         [](const auto& dir) { dir.write("in/target", std::string(100'000, 'o')); },
         FolderLink::refused, true},
        {"a link to a file elsewhere",
         [](const auto& dir) { dir.symlink("in/target", "../other"); }, FolderLink::refused, true},
        {"a folder", [](const auto& dir) { dir.makeDirectory("in/target"); }, FolderLink::refused,
         false},
        {"in a linked folder, refused",
         [](const auto& dir) {
             fs::remove(dir / "in");
             dir.makeDirectory("real");
             dir.symlink("in", "real");
         },
         FolderLink::refused, false},
        {"in a linked folder, followed",
         [](const auto& dir) {
             fs::remove(dir / "in");
             dir.makeDirectory("real");
             dir.symlink("in", "real");
         },
         FolderLink::followed, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const testing::TempDir dir;
        dir.makeDirectory("in");
        dir.write("other", "untouched");
        c.arrange(dir);
        const auto before = namesIn(fs::canonical(dir / "in"));
        const auto failure = replaceFile(dir / "in/target", "new", 0664, c.folderLink);
        EXPECT_EQ(!failure, c.replaced) << failure.value_or("");
        EXPECT_EQ(contentsOf(dir / "other"), "untouched");
        if (!c.replaced) {
            EXPECT_EQ(namesIn(fs::canonical(dir / "in")), before);
            continue;
        }
        struct stat status {};
        ASSERT_EQ(::lstat((dir / "in/target").c_str(), &status), 0);
        EXPECT_TRUE(S_ISREG(status.st_mode));
        EXPECT_EQ(status.st_mode & 07777, 0664u); // whatever the umask
        EXPECT_EQ(contentsOf(dir / "in/target"), "new");
        EXPECT_EQ(namesIn(dir / "in"), std::vector<std::string>{"target"});
    }
}

// A reader looking again and again while the file is replaced by longer and shorter texts sees
// one of them whole every time, never a part or an empty file.
TEST(ReplaceFile, AReaderSeesTheOldTextOrTheNewNeverAPart) {
    const testing::TempDir dir;
    const std::string versions[] = {std::string(200'000, 'a'), "b"};
    ASSERT_FALSE(replaceFile(dir / "target", versions[0], 0644));
    std::atomic<bool> writing{true};
    std::thread writer([&] {
        for (int round = 0; round < 50; ++round) {
            EXPECT_FALSE(replaceFile(dir / "target", versions[round % 2 == 0 ? 1 : 0], 0644));
        }
        writing = false;
    });
    int looks = 0;
    while (writing) {
        const auto seen = contentsOf(dir / "target");
        if (seen != versions[0] && seen != versions[1]) {
            ADD_FAILURE() << "saw " << seen.size() << " bytes";
            break;
        }
        ++looks;
    }
    writer.join();
    EXPECT_GT(looks, 0);
}

} // namespace
} // namespace brivane::platform::posix
