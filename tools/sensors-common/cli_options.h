#pragma once

#include "ipc/frame_codec.h"

#include <optional>
#include <string>
#include <vector>

namespace brivane::cli {

struct CliOptions {
    // A request shows one document; metrics prints the snapshot as metrics text and export
    // serves it over HTTP (metrics_commands.h); disks lists this machine's disks; record keeps
    // the readings in the history that history shows (tools/history), alerts lists the
    // alerts it keeps there.
    enum class Action { request, metrics, exportMetrics, disks, record, history, alerts };

    Action action = Action::request;
    ipc::Selector selector = ipc::Selector::snapshot;
    std::optional<std::string> argument;
    std::string team;                    // used when no endpoint is given
    std::optional<std::string> endpoint; // explicit socket path
    bool raw = false;
    bool json = false; // the view as JSON, for scripts
    int timeoutMs = 10000;
    bool help = false;
    std::optional<std::string> output;        // metrics: file to replace atomically
    std::vector<std::string> listen;          // export: HOST:PORT, each given
    std::optional<std::string> webConfigFile; // export: TLS, passwords, headers
    bool otherUsersProcesses = false;         // export: name every user's busiest processes
    bool version = false;
    bool watch = false;            // redraw the request's view until interrupted
    std::optional<int> intervalMs; // between watch frames, or record's samples
    // history: glob patterns on the names the views show, the time range as typed (absent: the
    // last day up to now), and the outputs besides the table and plot.
    std::vector<std::string> sensors;
    std::optional<std::string> since, until;
    bool csv = false;
    bool alertTest = false;              // alerts --test: send one desktop notification
    bool alertDefaults = false;          // alerts --defaults: print the shipped rules
    std::optional<std::string> plotFile; // an SVG picture
    // Rows of a ranking to show: -n N, --all (every one); absent: the view's default.
    std::optional<std::size_t> rows;
};

constexpr int defaultWatchIntervalMs = 2000;

// brivane-sensors' exit statuses, as usageText lists them.
enum ExitStatus {
    answered = 0,
    unreachable = 1,
    usage = 2,
    noData = 3,
    notWritten = 4,
    noSuchDisk = 5,
    updateFailed = 6,
    addressInUse = 7,    // export: another process listens there; restarting will not help
    recorderRunning = 8, // record: another recorder keeps this user's history of this machine
};

struct ParsedCommandLine {
    std::optional<CliOptions> options;
    std::string error; // set when options is absent
};

// Options may stand before or after the subcommand: snapshot, cpu, processes <kind>,
// storage [list | <disk>], manage <command>, metrics, export; the reading requests optionally
// behind "watch" (snapshot when alone). A mistake is one line naming it, with the nearest valid
// word where one is close.
ParsedCommandLine parseCommandLine(const std::vector<std::string>& arguments,
                                   std::string defaultTeam);

// The request as typed on the command line: "snapshot", "processes memory".
std::string requestText(const CliOptions& options);

extern const char* const usageText;

} // namespace brivane::cli
