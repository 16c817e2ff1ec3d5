#include "history/alerts/alert_engine.h"
#include "history/alerts/alert_observer.h"
#include "history/alerts/alerts_command.h"
#include "history/history_test_support.h"
#include "support/child_process.h"
#include "support/mock_system_bus.h"
#include "support/temp_dir.h"

#include <cstdlib>
#include <gtest/gtest.h>
#include <sstream>

namespace brivane::cli {
namespace {

using brivane::testing::MockSystemBus;
namespace recorded = brivane::cli::testing;

class AlertDelivery : public ::testing::Test {
protected:
    void SetUp() override {
        if (const auto reason = MockSystemBus::unavailableReason(); !reason.empty()) {
            GTEST_SKIP() << reason;
        }
        bus_ = std::make_unique<MockSystemBus>(MockSystemBus::Type::session);
        ASSERT_TRUE(bus_->startService("notification_daemon", "org.freedesktop.Notifications"));
        const std::string entry = bus_->environmentEntry();
        ::setenv("DBUS_SESSION_BUS_ADDRESS", entry.substr(entry.find('=') + 1).c_str(), 1);
        folder_.write("alerts.conf",
                      "shipped-rules = no\n[near]\nsummary = Near critical\nabove = crit - 5\n"
                      "hysteresis = 3\nclear-for = 20s\nseverity = critical\nexec = printf "
                      "'%s %s\\n' \"$BRIVANE_ALERT_STATE\" \"$BRIVANE_ALERT_SENSOR\" >> " +
                          (folder_ / "exec.out") + "\n");
    }

    std::unique_ptr<AlertEngine> engine() {
        return std::make_unique<AlertEngine>(
            folder_ / "alerts.conf",
            AlertEngine::Outlets{
                &store_, notifier_.get(), &commands_,
                [&](std::string_view line, AlertSeverity) { log_ += std::string(line) + "\n"; }},
            10);
    }

    // The Notify calls the server received, one line each.
    std::vector<std::string> notifyCalls() const {
        std::vector<std::string> calls;
        std::istringstream log(bus_->callLog(0));
        for (std::string line; std::getline(log, line);) {
            if (line.find(" Notify ") != std::string::npos) {
                calls.push_back(line);
            }
        }
        return calls;
    }

    static AlertFrame frame(double time, double value, const std::string& name = "k10temp/Tctl") {
        AlertReading reading;
        reading.name = name;
        reading.kind = "temperature";
        reading.unit = "celsius";
        reading.value = value;
        reading.limits[static_cast<std::size_t>(AlertLimit::crit)] = 100;
        return {time, true, {reading}};
    }

    std::unique_ptr<MockSystemBus> bus_;
    brivane::testing::TempDir folder_{"brivane-alerts"};
    MemoryAlertStore store_;
    std::unique_ptr<Notifier> notifier_ = makeDesktopNotifier();
    AlertCommandRunner commands_{CommandLauncher{}, [](const std::string&) {}};
    std::string log_;
};

TEST_F(AlertDelivery, AValueDancingAroundItsLimitNotifiesOnceAndItsRecoveryReplacesIt) {
    auto alerts = engine();
    double t = 0;
    for (const double value : {96.0, 94.0, 96.0, 93.0, 95.5, 96.0, 92.0, 91.0, 90.0}) {
        alerts->observe(frame(t += 10, value));
    }
    const auto calls = notifyCalls();
    ASSERT_EQ(calls.size(), 2u) << bus_->callLog(0);
    EXPECT_NE(
        calls[0].find("Notify \"Brivane Sensor Companion\" 0 \"dialog-error\" \"Near critical\" "
                      "\"k10temp/Tctl is at 96.0 °C, above 95.0 °C.\" [] {"),
        std::string::npos)
        << calls[0];
    EXPECT_NE(calls[0].find("\"urgency\": 2"), std::string::npos);
    // The mock answers the first notification with id 1; the recovery updates it in place.
    EXPECT_NE(calls[1].find("Notify \"Brivane Sensor Companion\" 1 \"dialog-information\" "
                            "\"Recovered: Near critical\" \"k10temp/Tctl is back at 90.0 °C"),
              std::string::npos)
        << calls[1];
    EXPECT_NE(calls[1].find("\"urgency\": 0"), std::string::npos);
    EXPECT_NE(log_.find("alert near k10temp/Tctl firing (critical): Near critical: "),
              std::string::npos)
        << log_;
    commands_.drain();
    EXPECT_EQ(brivane::testing::readFile(folder_ / "exec.out"),
              "firing k10temp/Tctl\nrecovered k10temp/Tctl\n");
}

TEST_F(AlertDelivery, FiringStateSurvivesARestartOfTheRecorderInItsDatabase) {
    folder_.write("alerts.conf", "shipped-rules = no\n[hot]\nkind = temperature\nabove = 90\n"
                                 "hysteresis = 5\n");
    const std::string path = folder_ / "history.sqlite";
    const auto observer = [&] {
        return std::make_unique<AlertObserver>(
            folder_ / "alerts.conf",
            AlertEngine::Outlets{nullptr, notifier_.get(), nullptr,
                                 [](std::string_view, AlertSeverity) {}},
            10000);
    };
    {
        auto history = recorded::openStore(path);
        observer()->observe(recorded::snapshotOf({{"cpu", 99}}), recorded::day0, &*history);
    }
    // The recorder starts again: the episode still fires, so nothing is said again.
    auto history = recorded::openStore(path, recorded::day0 + 10000);
    auto restarted = observer();
    for (const double value : {99.0, 88.0, 99.0}) {
        restarted->observe(recorded::snapshotOf({{"cpu", value}}), recorded::day0 + 10000,
                           &*history);
    }
    EXPECT_EQ(notifyCalls().size(), 1u);
    restarted->observe(recorded::snapshotOf({{"cpu", 80}}), recorded::day0 + 20000, &*history);
    const auto calls = notifyCalls();
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_NE(calls[1].find("\"Brivane Sensor Companion\" 1 "), std::string::npos) << calls[1];
    EXPECT_TRUE(history->alertStates().empty());
    EXPECT_EQ(recorded::countRows(history->database(),
                                  "SELECT count(*) FROM alert_events WHERE rule = 'hot'"),
              2);
}

TEST_F(AlertDelivery, AlertsTestSendsOneNotification) {
    CliOptions options;
    options.action = CliOptions::Action::alerts;
    options.alertTest = true;
    EXPECT_EQ(runAlerts(options), answered);
    ASSERT_EQ(notifyCalls().size(), 1u);
    EXPECT_NE(notifyCalls()[0].find("\"urgency\": 0"), std::string::npos) << notifyCalls()[0];
}

TEST_F(AlertDelivery, NamesAreEscapedForTheServersMarkupAndABadRuleFileKeepsTheRules) {
    auto alerts = engine();
    folder_.write("alerts.conf", "[near]\nabove = crit -\n");
    alerts->observe(frame(10, 99, "board/<b>&\x1b[2J"));
    ASSERT_EQ(notifyCalls().size(), 1u);
    EXPECT_NE(notifyCalls()[0].find("\"board/&lt;b&gt;&amp;\xEF\xBF\xBD[2J is at"),
              std::string::npos)
        << notifyCalls()[0];
    EXPECT_NE(log_.find("alerts.conf:2:15: 'above': expected a number after '-'; the alert rules "
                        "in use stay"),
              std::string::npos)
        << log_;
}

TEST_F(AlertDelivery, WithoutANotificationServerTheJournalStillHasEveryAlert) {
    MockSystemBus empty(MockSystemBus::Type::session);
    const std::string entry = empty.environmentEntry();
    ::setenv("DBUS_SESSION_BUS_ADDRESS", entry.substr(entry.find('=') + 1).c_str(), 1);
    auto alerts = engine();
    alerts->observe(frame(10, 99, "a/t"));
    alerts->observe(frame(20, 99, "b/t"));
    EXPECT_NE(log_.find("alert near a/t firing"), std::string::npos) << log_;
    EXPECT_NE(log_.find("alert near b/t firing"), std::string::npos) << log_;
    // The missing server is said once.
    const auto first = log_.find("no desktop notification");
    ASSERT_NE(first, std::string::npos) << log_;
    EXPECT_EQ(log_.find("no desktop notification", first + 1), std::string::npos) << log_;
}

} // namespace
} // namespace brivane::cli
