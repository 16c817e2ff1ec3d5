#include "history/history_files.h"
#include "history/history_schema.h"
#include "history_test_support.h"
#include "support/child_process.h"

#include <csignal>
#include <filesystem>
#include <fstream>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

namespace brivane::cli::testing {
namespace {

using brivane::testing::TempDir;

// The values a series has in a tier's rows, in time order: (time, minimum, average, maximum).
struct Point {
    std::int64_t time;
    float minimum, average, maximum;
};

std::vector<Point> pointsOf(SqlDatabase& database, const std::string& tier,
                            const std::string& name) {
    const auto id = database.queryInteger("SELECT id FROM series WHERE name = '" + name + "'");
    std::vector<Point> points;
    auto rows = database.prepare("SELECT t.time, l.series, t.data FROM " + tier +
                                 " AS t JOIN layouts AS l ON l.id = t.layout ORDER BY t.time");
    while (id && rows.step() == SQLITE_ROW) {
        const auto ids = decodeLayout(rows.blob(1));
        const auto at = std::find(ids->begin(), ids->end(), *id) - ids->begin();
        if (at == static_cast<std::ptrdiff_t>(ids->size())) {
            continue;
        }
        if (tier == "samples") {
            if (const auto value = (*decodeSample(rows.blob(2), ids->size()))[at]) {
                points.push_back({rows.integer(0), *value, *value, *value});
            }
        } else if (const auto value = (*decodeAggregates(rows.blob(2), ids->size()))[at]) {
            points.push_back({rows.integer(0), value->minimum, value->average, value->maximum});
        }
    }
    return points;
}

TEST(HistoryStore, TiersKeepTheirSpanAndSumUpWhatTheyDrop) {
    TempDir folder;
    const std::string path = folder / "history.sqlite";
    auto store = openStore(path);
    // Eight days, a sample a minute: "cpu" climbs 0..59 within each hour; "gpu" is there only in
    // the first half of each hour (a gap after), and the fan stands still.
    const std::int64_t end = day0 + 8LL * 24 * msPerHour;
    for (std::int64_t time = day0; time <= end; time += msPerMinute) {
        const auto minute = static_cast<double>((time / msPerMinute) % 60);
        std::map<std::string, double> temperatures{{"cpu", minute}};
        if (minute < 30) {
            temperatures["gpu"] = 50;
        }
        ASSERT_EQ(
            store->record(recordedReadings(snapshotOf(temperatures)), time, msPerMinute).written,
            HistoryStore::Written::stored);
    }
    auto& db = store->database();
    // Each tier spans its own time, and no more.
    EXPECT_EQ(countRows(db, "SELECT min(time) FROM samples"), end - 24 * msPerHour);
    EXPECT_EQ(countRows(db, "SELECT min(time) FROM minutes"), end - 7 * 24 * msPerHour);
    EXPECT_EQ(countRows(db, "SELECT min(time) FROM hours"), day0);
    EXPECT_EQ(countRows(db, "SELECT count(*) FROM hours"), 8 * 24);

    const auto hours = pointsOf(db, "hours", "cpu");
    ASSERT_EQ(hours.size(), 8u * 24);
    EXPECT_EQ(hours[5].time, day0 + 5 * msPerHour);
    EXPECT_FLOAT_EQ(hours[5].minimum, 0);
    EXPECT_FLOAT_EQ(hours[5].average, 29.5f);
    EXPECT_FLOAT_EQ(hours[5].maximum, 59);
    // A gap is no value: the half hour without "gpu" leaves no trace in its points.
    EXPECT_EQ(pointsOf(db, "minutes", "gpu").size(), 7u * 24 * 30);
    EXPECT_EQ(pointsOf(db, "hours", "gpu").size(), 8u * 24);
    EXPECT_FLOAT_EQ(pointsOf(db, "hours", "gpu")[3].average, 50);
    const auto samples = pointsOf(db, "samples", "gpu");
    EXPECT_TRUE(std::all_of(samples.begin(), samples.end(),
                            [](const Point& p) { return (p.time / msPerMinute) % 60 < 30; }));
    // The fan's maximum is stored once, not once a sample.
    EXPECT_EQ(countRows(db, "SELECT count(*) FROM marks"), 1);
}

TEST(HistoryStore, AReadingAbsentFromASnapshotIsAGapNotZeroNorItsLastValue) {
    TempDir folder;
    auto store = openStore(folder / "history.sqlite");
    SensorSnapshot withDetail = snapshotOf({{"cpu", 40}});
    // An input without a value (a detector) is a gap of its series.
    withDetail.sensors = std::vector<SensorSnapshot::SensorDetail>{
        {.key = "nct/intrusion0", .type = "intrusion", .alarms = {{.alarm = true}}}};
    store->record(recordedReadings(withDetail), day0, 10000);
    store->record(recordedReadings(snapshotOf({})), day0 + 10000, 10000);
    store->record(recordedReadings(snapshotOf({{"cpu", 42}})), day0 + 20000, 10000);
    auto& db = store->database();
    const auto cpu = pointsOf(db, "samples", "cpu");
    ASSERT_EQ(cpu.size(), 2u);
    EXPECT_EQ(cpu[0].time, day0);
    EXPECT_EQ(cpu[1].time, day0 + 20000);
    EXPECT_TRUE(pointsOf(db, "samples", "nct/intrusion0").empty());
    EXPECT_EQ(countRows(db, "SELECT flags FROM marks JOIN series ON id = series"
                            " WHERE name = 'nct/intrusion0'"),
              2);
}

// Files that are not the history's: moved aside with one line, and a new one started.
TEST(HistoryStore, AFileThatIsNoHistoryIsMovedAsideAndANewOneStarted) {
    const struct Case {
        const char* name;
        std::function<void(const std::string& path)> make;
        const char* said;
    } cases[] = {
        {"text", [](const std::string& path) { std::ofstream(path) << "not a database\n"; },
         "is not a database"},
        {"truncated",
         [](const std::string& path) {
             {
                 auto store = openStore(path);
                 for (int i = 0; i < 300; ++i) {
                     store->record(recordedReadings(snapshotOf({{"cpu", i}})), day0 + i * 10000,
                                   10000);
                 }
             }
             ::truncate(path.c_str(), 6000);
         },
         "is damaged"},
        {"foreign",
         [](const std::string& path) {
             std::string problem;
             auto db = SqlDatabase::open(path, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, problem);
             db->execute("CREATE TABLE notes(text)");
         },
         "another program"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir folder;
        const std::string path = folder / "history.sqlite";
        c.make(path);
        auto opened = HistoryStore::open(path, day0);
        ASSERT_EQ(opened.outcome, HistoryStore::Opening::ready);
        ASSERT_EQ(opened.said.size(), 1u);
        EXPECT_NE(opened.said[0].find(c.said), std::string::npos) << opened.said[0];
        const std::string aside = path + "." +
                                  (std::string(c.name) == "text"      ? "not-a-database"
                                   : std::string(c.name) == "foreign" ? "foreign"
                                                                      : "damaged") +
                                  "-20260301T000000Z";
        EXPECT_NE(opened.said[0].find(aside), std::string::npos) << opened.said[0];
        EXPECT_TRUE(std::filesystem::exists(aside));
        EXPECT_EQ(
            opened.store->record(recordedReadings(snapshotOf({{"cpu", 1}})), day0, 10000).written,
            HistoryStore::Written::stored);
    }
}

// A log left beside a moved database would be applied to a new one: removed, or the move fails.
TEST(HistoryFiles, ALogThatCannotFollowItsDatabaseIsNeverLeftBesideIt) {
    for (const bool removable : {true, false}) {
        TempDir folder;
        const std::string path = folder / "history.sqlite";
        const std::string aside = path + ".damaged-19700101T000000Z";
        std::ofstream(path) << "database";
        // A folder in the log's way stops its rename; a log that is a full folder stays too.
        std::filesystem::create_directories((removable ? aside : path) + "-wal/in");
        std::ofstream((removable ? path : aside) + "-wal") << "log";
        std::string problem;
        EXPECT_EQ(moveAside(path, "damaged", 0, problem).has_value(), removable) << problem;
        EXPECT_EQ(std::filesystem::exists(path + "-wal"), !removable);
    }
}

TEST(HistoryStore, AFileOfANewerVersionIsLeftAsItIs) {
    TempDir folder;
    const std::string path = folder / "history.sqlite";
    {
        auto store = openStore(path);
        store->database().execute("PRAGMA user_version = 99");
    }
    const auto before = brivane::testing::readFile(path);
    auto opened = HistoryStore::open(path, day0);
    EXPECT_EQ(opened.outcome, HistoryStore::Opening::newer);
    EXPECT_FALSE(opened.store);
    ASSERT_EQ(opened.said.size(), 1u);
    EXPECT_NE(opened.said[0].find("newer version"), std::string::npos);
    EXPECT_EQ(brivane::testing::readFile(path), before);
}

// A recorder killed while it writes loses that sample at most: the file stays sound and keeps
// what was committed.
TEST(HistoryStore, SigkillMidWriteLosesAtMostTheLastSample) {
    TempDir folder;
    const std::string path = folder / "history.sqlite";
    int ready[2];
    ASSERT_EQ(::pipe(ready), 0);
    const pid_t child = ::fork();
    if (child == 0) {
        auto opened = HistoryStore::open(path, day0);
        const char byte = 1;
        [[maybe_unused]] auto ignored = ::write(ready[1], &byte, 1);
        for (std::int64_t i = 0;; ++i) {
            std::map<std::string, double> many;
            for (int s = 0; s < 150; ++s) {
                many["s" + std::to_string(s)] = static_cast<double>(i % 97 + s);
            }
            opened.store->record(recordedReadings(snapshotOf(many)), day0 + i * 1000, 1000);
        }
    }
    char byte = 0;
    ASSERT_EQ(::read(ready[0], &byte, 1), 1);
    ::usleep(400000);
    ::kill(child, SIGKILL);
    ::waitpid(child, nullptr, 0);
    auto store = openStore(path);
    ASSERT_TRUE(store);
    auto& db = store->database();
    EXPECT_EQ(db.queryText("PRAGMA integrity_check").value_or(""), "ok");
    const auto samples = countRows(db, "SELECT count(*) FROM samples");
    EXPECT_GT(samples, 0);
    // Every committed sample whole: its layout holds 151 series, every value present.
    EXPECT_EQ(pointsOf(db, "samples", "s149").size(), static_cast<std::size_t>(samples));
    ::close(ready[0]);
    ::close(ready[1]);
}

TEST(RecorderLock, ASecondRecorderOfTheSameHistoryIsRefused) {
    TempDir folder;
    const auto files = historyFilesIn(folder.path(), "0123abc");
    EXPECT_EQ(files.database, folder / "history-0123abc.sqlite");
    std::optional<RecorderLock> first, second;
    std::optional<std::int64_t> holder;
    std::string problem;
    ASSERT_EQ(RecorderLock::take(files.lock, first, holder, problem), RecorderLock::Outcome::held);
    // flock(2) locks belong to the open file: another open of it, as another process makes, is
    // refused.
    EXPECT_EQ(RecorderLock::take(files.lock, second, holder, problem),
              RecorderLock::Outcome::heldByAnother);
    EXPECT_EQ(holder, ::getpid());
    first.reset();
    EXPECT_EQ(RecorderLock::take(files.lock, second, holder, problem), RecorderLock::Outcome::held);
}

} // namespace
} // namespace brivane::cli::testing
