#include "alerts_command.h"

#include "alert_engine.h"
#include "alert_message.h"
#include "database_alert_store.h"
#include "desktop_notifier.h"
#include "history/history_files.h"
#include "history/sqlite_database.h"
#include "rule_file.h"
#include "sensors-cli/terminal_text.h"
#include "sensors-common/snapshot_sharing.h"

#include <chrono>
#include <cstdio>
#include <sqlite3.h>
#include <string>
#include <vector>

namespace brivane::cli {
namespace {

constexpr int recentEvents = 20;

// Whether everything printed so far reached standard output; finished() reports it once.
bool outputWhole = true;

void print(std::string_view line) {
    const std::string text = terminalSafe(line) + "\n";
    outputWhole = std::fwrite(text.data(), 1, text.size(), stdout) == text.size() && outputWhole;
}

// An answer that did not reach the output is not one (a full disk, a closed pipe).
int finished() {
    if (!outputWhole || std::fflush(stdout) != 0) {
        printProblem("alerts: output not written");
        return notWritten;
    }
    return answered;
}

double nowSeconds() {
    return std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch())
        .count();
}

int sendTest() {
    const auto notifier = makeDesktopNotifier();
    const Notification note{
        {"Brivane Sensor Companion", "A test of the alerts: they reach this desktop."},
        AlertSeverity::info,
        false,
        0};
    if (const auto id = notifier->notify(note)) {
        print("alerts: test notification sent (id " + std::to_string(*id) + ")");
        return finished();
    }
    printProblem("alerts: no desktop notification: " + notifier->problem());
    return unreachable;
}

AlertRules rulesInUse(const std::filesystem::path& file) {
    auto loaded = loadRuleFile(file);
    if (loaded.rules) {
        print("Rules: " + (std::filesystem::exists(file) ? file.string() + " over the shipped rules"
                                                         : std::string("the shipped rules")));
        return *loaded.rules;
    }
    print("Rules: the shipped rules; " + loaded.problem);
    return *parseRuleFile("").rules;
}

// The firing alerts and the latest events, from the database; a line saying why not when
// there is none to read.
void listRecorded(double now) {
    std::string problem;
    const auto files = historyFiles(problem);
    std::optional<SqlDatabase> database;
    if (files && std::filesystem::exists(files->database)) {
        database = SqlDatabase::open(files->database, SQLITE_OPEN_READONLY, problem);
    } else if (files) {
        problem = "no history yet: brivane-sensors record keeps the alerts' episodes";
    }
    if (!database) {
        print("Firing: unknown (" + problem + ")");
        return;
    }
    database->busyTimeout(2000);
    std::vector<std::string> lines;
    auto firing = database->prepare("SELECT rule, subject, state, since, detail FROM alert_state"
                                    " ORDER BY since");
    while (firing.valid() && firing.step() == SQLITE_ROW) {
        const AlertState state{std::string(firing.text(0)), std::string(firing.text(1)),
                               std::string(firing.text(2)), firing.integer(3),
                               std::string(firing.text(4))};
        const auto episode = episodeOf(state);
        const std::string text = episode ? episode->title + ": " + episode->body : state.state;
        lines.push_back("  since " + clockText(static_cast<double>(state.since) / 1000, now) +
                        "  " + state.rule + "  " + text);
    }
    print(lines.empty() ? "Firing: none" : "Firing:");
    for (const auto& line : lines) {
        print(line);
    }
    lines.clear();
    auto events = database->prepare("SELECT time, rule, subject, event, message FROM alert_events"
                                    " ORDER BY time DESC, id DESC LIMIT ?1");
    if (events.valid()) {
        events.bind(1, std::int64_t{recentEvents});
    }
    while (events.valid() && events.step() == SQLITE_ROW) {
        lines.push_back("  " + clockText(static_cast<double>(events.integer(0)) / 1000, now) +
                        "  " + std::string(events.text(3)) + "  " + std::string(events.text(1)) +
                        "  " + std::string(events.text(4)));
    }
    print(lines.empty() ? "Lately: nothing fired" : "Lately (newest first):");
    for (const auto& line : lines) {
        print(line);
    }
}

// The rules no reading of this machine's snapshot can be tested against.
void listUntestable(const CliOptions& options, const AlertRules& rules, double now) {
    AgentSnapshots agent{AgentConnection(options)};
    const auto fetched = agent.fetch();
    if (!fetched.snapshot) {
        print("Rules this machine cannot test: unknown (" + fetched.problem + ")");
        return;
    }
    AgentConnection connection(options);
    AlertEvaluator evaluator(rules);
    evaluator.evaluate(alertFrame(now, &*fetched.snapshot, askDiskHealth(connection, "/sys")));
    std::string names;
    for (const auto& name : evaluator.unmatchedRules()) {
        names += (names.empty() ? "" : ", ") + name;
    }
    print("Rules this machine cannot test: " + (names.empty() ? std::string("none") : names));
}

} // namespace

int runAlerts(const CliOptions& options) {
    if (options.alertTest) {
        return sendTest();
    }
    if (options.alertDefaults) {
        const auto text = shippedRuleText();
        outputWhole = std::fwrite(text.data(), 1, text.size(), stdout) == text.size();
        return finished();
    }
    const double now = nowSeconds();
    const auto rules = rulesInUse(ruleFilePath());
    listRecorded(now);
    listUntestable(options, rules, now);
    return finished();
}

} // namespace brivane::cli
