#include "history/recorder.h"
#include "history_test_support.h"
#include "support/child_process.h"

#include <fstream>
#include <sys/mount.h>
#include <unistd.h>

namespace brivane::cli::testing {
namespace {

using brivane::testing::TempDir;

// Time as the test says: each wait ends at its time at once, the machine sleeps on demand.
class WarpedClock final : public RecorderClock {
public:
    std::int64_t now = day0;
    std::int64_t slept = 0;
    int waitsLeft = 1000000;
    std::int64_t nowMs() override { return now; }
    Woke waitUntil(std::int64_t wallMs) override {
        if (waitsLeft-- <= 0) {
            return Woke::stop;
        }
        now = std::max(now, wallMs);
        return Woke::due;
    }
    std::int64_t sleptMs() override { return std::exchange(slept, 0); }
};

struct RecorderRig {
    TempDir folder;
    WarpedClock clock;
    std::vector<std::string> said;
    std::optional<SensorSnapshot> answer = snapshotOf({{"cpu", 40}});
    std::optional<Recorder> recorder;

    explicit RecorderRig(std::string_view where = {}) {
        RecorderSetup setup;
        setup.files = historyFilesIn(where.empty() ? folder.path() : std::string(where), "m");
        setup.say = [this](std::string_view line) { said.emplace_back(line); };
        recorder.emplace(
            setup,
            [this] {
                FetchedSnapshot fetched;
                fetched.snapshot = answer;
                fetched.problem = answer ? "" : "the agent is not running";
                return fetched;
            },
            clock);
    }
};

TEST(Recorder, SamplesOnTheIntervalsMultiplesAndSaysProblemsOnce) {
    RecorderRig rig;
    bool busy = true;
    ASSERT_TRUE(rig.recorder->start(busy));
    EXPECT_FALSE(busy);
    rig.clock.now = day0 + 3456; // asked at :03.456, the samples fall on :10, :20, …
    rig.clock.waitsLeft = 3;
    rig.recorder->run();
    auto& db = rig.recorder->store()->database();
    EXPECT_EQ(countRows(db, "SELECT min(time) FROM samples"), day0 + 10000);
    EXPECT_EQ(countRows(db, "SELECT count(*) FROM samples"), 3);

    rig.answer.reset(); // the agent stops answering: said once, and gaps
    rig.clock.waitsLeft = 3;
    rig.recorder->run();
    rig.answer = snapshotOf({{"cpu", 41}});
    rig.clock.slept = 7 * msPerHour; // a night's suspend
    rig.clock.now += 7 * msPerHour;
    rig.clock.waitsLeft = 1;
    rig.recorder->run();
    EXPECT_EQ(countRows(db, "SELECT count(*) FROM samples"), 4);
    ASSERT_EQ(rig.said.size(), 3u);
    EXPECT_NE(rig.said[0].find("the agent is not running"), std::string::npos);
    EXPECT_NE(rig.said[1].find("slept for 7 h"), std::string::npos);
    EXPECT_EQ(rig.said[2], "the agent answers again");
}

TEST(Recorder, ASecondRecorderEndsWithoutTouchingTheHistory) {
    RecorderRig first;
    bool busy = false;
    ASSERT_TRUE(first.recorder->start(busy));
    RecorderRig second(first.folder.path());
    EXPECT_FALSE(second.recorder->start(busy));
    EXPECT_TRUE(busy);
    ASSERT_EQ(second.said.size(), 1u);
    EXPECT_NE(second.said[0].find("another recorder (pid " + std::to_string(::getpid())),
              std::string::npos);
}

// A full disk is said once, nothing is stored meanwhile, and recording resumes with space.
TEST(Recorder, AFullDiskIsSaidOnceAndRecordingResumesWithSpace) {
    if (::geteuid() != 0 || ::unshare(CLONE_NEWNS) != 0) {
        GTEST_SKIP() << "needs root for a small tmpfs of its own";
    }
    ASSERT_EQ(::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr), 0);
    TempDir disk;
    ASSERT_EQ(::mount("tmpfs", disk.path().c_str(), "tmpfs", 0, "size=1m"), 0);
    const std::string filler = disk / "filler";
    std::ofstream(filler) << std::string(700 * 1024, 'x');
    RecorderRig rig(disk.path());
    std::map<std::string, double> many;
    for (int s = 0; s < 150; ++s) {
        many["s" + std::to_string(s)] = s;
    }
    rig.answer = snapshotOf(many);
    bool busy = false;
    ASSERT_TRUE(rig.recorder->start(busy));
    rig.clock.waitsLeft = 600;
    rig.recorder->run();
    ASSERT_EQ(rig.said.size(), 1u);
    EXPECT_NE(rig.said[0].find("is full: recording pauses"), std::string::npos) << rig.said[0];
    ::unlink(filler.c_str());
    rig.clock.waitsLeft = 1;
    rig.recorder->run();
    ASSERT_EQ(rig.said.size(), 2u);
    EXPECT_EQ(rig.said[1], "recording resumes");
    EXPECT_EQ(countRows(rig.recorder->store()->database(), "SELECT max(time) FROM samples"),
              rig.clock.now);
    rig.recorder.reset();
    ::umount2(disk.path().c_str(), MNT_DETACH);
}

} // namespace
} // namespace brivane::cli::testing
