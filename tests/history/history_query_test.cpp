#include "history/history_reader.h"
#include "history/history_report.h"
#include "history/history_svg.h"
#include "history/history_time.h"
#include "history/history_trends.h"
#include "history/plot_scale.h"
#include "history_test_support.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <nlohmann/json.hpp>

namespace brivane::cli::testing {
namespace {

using brivane::testing::TempDir;

TEST(HistoryTime, ReadsSpansDatesAndTimesOfDay) {
    ::setenv("TZ", "UTC", 1);
    ::tzset();
    const std::int64_t now = day0 + 10 * msPerHour; // 2026-03-01 10:00
    const std::pair<const char*, std::optional<std::int64_t>> cases[] = {
        {"10m", now - 10 * msPerMinute},
        {"2d", now - 48 * msPerHour},
        {"now", now},
        {"2026-02-27", day0 - 2 * 24 * msPerHour},
        {"2026-02-27 14:30", day0 - 2 * 24 * msPerHour + 14 * msPerHour + 30 * msPerMinute},
        {"2026-03-01T09:00:15Z", day0 + 9 * msPerHour + 15000},
        {"09:00", day0 + 9 * msPerHour},
        {"22:00", day0 - 2 * msPerHour}, // still to come today: last night's
        {"2026-02-29", std::nullopt},    // no leap year
        {"25:00", std::nullopt},
        {"1y", std::nullopt},
        {"3 h", std::nullopt},
        {"", std::nullopt},
        {"2026-03-01 14:30 ", std::nullopt},
        {"99999999999999999999d", std::nullopt},
    };
    for (const auto& [text, expected] : cases) {
        std::string problem;
        EXPECT_EQ(parseHistoryTime(text, now, problem), expected) << text;
        EXPECT_EQ(problem.empty(), expected.has_value()) << text;
    }
    EXPECT_EQ(utcText(day0 + 15000), "2026-03-01T00:00:15Z");
}

TEST(HistoryQuery, ARangeReadsEachTierOnceWithGapsLeftOpen) {
    TempDir folder;
    const std::string path = folder / "history.sqlite";
    // Eight hours a sample a minute; samples kept an hour, minutes six.
    const HistoryTiers tiers{msPerHour, 6 * msPerHour, 1000 * msPerHour};
    const std::int64_t end = day0 + 8 * msPerHour;
    {
        auto store = openStore(path, day0, tiers);
        for (std::int64_t time = day0; time < end; time += msPerMinute) {
            std::map<std::string, double> temperatures{
                {"k10temp/Tctl", time < day0 + 4 * msPerHour ? 40 : 60}};
            // The GPU is gone for the fifth hour and comes back.
            if (time < day0 + 4 * msPerHour || time >= day0 + 5 * msPerHour) {
                temperatures["amdgpu/edge"] = 50;
            }
            store->record(recordedReadings(snapshotOf(temperatures)), time, msPerMinute);
        }
    }
    std::string problem;
    auto reader = HistoryReader::open(path, problem);
    ASSERT_TRUE(reader) << problem;
    std::vector<std::string> unmatched;
    const auto picked = pickSeries(reader->series(), {"*/Tctl", "amd*", "nothing*"}, unmatched);
    ASSERT_EQ(picked.size(), 2u);
    EXPECT_EQ(unmatched, std::vector<std::string>{"nothing*"});
    const std::int64_t ids[] = {picked[0]->id, picked[1]->id};
    const auto read = reader->read(ids, day0, end, end, tiers);
    ASSERT_TRUE(read);
    for (const auto& points : *read) {
        // Hours, then minutes, then the last hour's samples: no time twice, none skipped.
        EXPECT_EQ(points.front().span, msPerHour);
        EXPECT_EQ(points.back().span, msPerMinute);
        EXPECT_EQ(points.back().time, end - msPerMinute);
        for (std::size_t i = 1; i < points.size(); ++i) {
            EXPECT_GE(points[i].time, points[i - 1].time + points[i - 1].span);
        }
    }
    const auto& cpu = picked[0]->name == "k10temp/Tctl" ? (*read)[0] : (*read)[1];
    const auto& gpu = picked[0]->name == "k10temp/Tctl" ? (*read)[1] : (*read)[0];
    int gaps = 0;
    for (std::size_t i = 1; i < gpu.size(); ++i) {
        gaps += gapBetween(gpu[i - 1], gpu[i]) ? 1 : 0;
    }
    EXPECT_EQ(gaps, 1);
    SeriesReport report{picked[0], cpu, {}, {}, {}, {}, 0};
    summarise(report);
    EXPECT_EQ(report.minimum, 40);
    EXPECT_EQ(report.maximum, 60);
    EXPECT_NEAR(*report.average, 50, 0.01); // weighted by the samples each point sums up
    EXPECT_EQ(report.last, 60);
}

TEST(HistoryOutput, DocumentsHoldEverySeriesWithTheirTextEscaped) {
    HistorySeries odd{1, "board/<&\"hot\", 'x'", "temperature", "celsius", {}};
    HistorySeries quiet{2, "cpu", "temperature", "celsius", {}};
    odd.marks.limits[3] = 95;
    HistoryReport report{day0, day0 + 2 * msPerMinute, day0 + 2 * msPerMinute, {}};
    report.series.push_back({&odd,
                             {{day0, 60000, 1, 40, 40, 40}, {day0 + 60000, 60000, 6, 39, 41, 43}},
                             {},
                             {},
                             {},
                             {},
                             0});
    report.series.push_back({&quiet, {}, {}, {}, {}, {}, 0});
    for (auto& row : report.series) {
        summarise(row);
    }
    TempDir folder;
    std::ofstream(folder / "plot.svg") << historySvg(report);
    // An XML parser finds the series by its name, unescaped, and the limit.
    const std::string command =
        "python3 -c \"import sys, xml.dom.minidom as m; d = m.parse(sys.argv[1]); "
        "print([g.getAttribute('data-name') for g in d.getElementsByTagName('g') if "
        "g.hasAttribute('data-name')], "
        "len(d.getElementsByTagName('polyline')), len(d.getElementsByTagName('polygon')))\" " +
        folder / "plot.svg" + " > " + folder / "parsed";
    ASSERT_EQ(std::system(command.c_str()), 0);
    std::ifstream parsed(folder / "parsed");
    std::string line;
    std::getline(parsed, line);
    EXPECT_EQ(line, "['board/<&\"hot\", \\'x\\''] 1 1"); // a minute's band around the line

    const auto json = nlohmann::json::parse(historyJson(report));
    EXPECT_EQ(json["time"], "2026-03-01T00:02:00Z");
    EXPECT_EQ(json["sensors"][0]["name"], odd.name);
    EXPECT_EQ(json["sensors"][0]["limits"]["crit"], 95);
    EXPECT_EQ(json["sensors"][0]["maximum"], 43);
    EXPECT_TRUE(json["sensors"][1]["last"].is_null());
    EXPECT_EQ(historyCsv(report),
              "time,sensor,kind,unit,minimum,average,maximum\r\n"
              "2026-03-01T00:00:00Z,\"board/<&\"\"hot\"\", 'x'\",temperature,celsius,40,40,40\r\n"
              "2026-03-01T00:01:00Z,\"board/<&\"\"hot\"\", 'x'\",temperature,celsius,39,41,43\r\n");
}

} // namespace
} // namespace brivane::cli::testing

namespace brivane::cli::testing {
namespace {

TEST(HistoryTrends, WatchRowsGainTheLastTenMinutesOfTheirSensor) {
    TempDir folder;
    const std::string path = folder / "history.sqlite";
    EXPECT_FALSE(HistoryTrends::openFile(path)); // no history: watch shows no trend column
    const std::int64_t now = day0 + 10 * msPerMinute;
    {
        auto store = openStore(path);
        for (std::int64_t time = day0; time < now; time += 10000) {
            // Rising a degree a minute, and nothing in the sixth minute.
            if (time < day0 + 5 * msPerMinute || time >= day0 + 6 * msPerMinute) {
                const double celsius = 40 + static_cast<double>(time - day0) / msPerMinute;
                store->record(recordedReadings(snapshotOf({{"k10temp/Tctl", celsius}})), time,
                              10000);
            }
        }
    }
    auto trends = HistoryTrends::openFile(path);
    ASSERT_TRUE(trends);
    DocumentView view;
    view.sections.push_back({"temperatures", "", {{"sensor", "Sensor"}, {"celsius", "°C"}}, {}});
    for (const char* name : {"k10temp/Tctl", "nvme/Composite"}) {
        view.sections[0].rows.push_back({{{name, std::string(name)}, {"50", 50.0}}});
    }
    trends->annotate(view, now - 1);
    const auto& section = view.sections[0];
    ASSERT_EQ(section.columns.size(), 3u);
    EXPECT_EQ(section.rows[0].cells[2].text, "▁▁▂▃▄ ▆▇██");
    EXPECT_EQ(section.rows[1].cells[2].text, ""); // a sensor the history lacks
}

} // namespace
} // namespace brivane::cli::testing
