#include "cli_options.h"

#include "base/whole_number.h"
#include "formats/nearest_word.h"

#include <algorithm>
#include <limits>
#include <span>

namespace brivane::cli {

const char* const usageText =
    "usage: brivane-sensors [options] [<request>]\n"
    "       brivane-sensors watch [<request>] [--interval SECONDS] [options]\n"
    "\n"
    "requests (snapshot when none is given):\n"
    "  snapshot             temperatures, fans, power, graphics, accessories\n"
    "  cpu                  busiest processes, CPU performance- and idle-state\n"
    "                       residencies, thermal throttling\n"
    "  processes <kind>     processes ranked by memory, storage, energy or gpu (your\n"
    "                       own processes' use of the graphics cards)\n"
    "  storage [list]       this machine's disks: agent name, kernel name, model\n"
    "  storage <disk>       SMART health of a disk: disk0, or its kernel name (nvme0n1,\n"
    "                       /dev/sda)\n"
    "  manage <command>     checkForUpdates or installUpdate\n"
    "  metrics              the snapshot as Prometheus metrics text\n"
    "  export               serve the snapshot as Prometheus metrics over HTTP until stopped\n"
    "  record               keep every reading in this user's history of this machine, a\n"
    "                       snapshot every interval (default 10 s), until stopped\n"
    "  history [SENSOR...]  what the recorded sensors did: minimum, average, maximum and last,\n"
    "                       and a plot of the named ones; SENSOR is a name as the views show\n"
    "                       it or a pattern ('k10temp*', '*/Tctl')\n"
    "  alerts               the alerts firing and of late, and the rules this machine cannot\n"
    "                       test; --test sends a desktop notification, --defaults prints the\n"
    "                       shipped rules\n"
    "\n"
    "watch redraws the request's view in place until interrupted (Ctrl-C); with --raw or\n"
    "--json it prints one document per line instead.\n"
    "\n"
    "options (before or after the request):\n"
    "  --team ID            team identifier that names the agent's endpoint\n"
    "  --endpoint PATH      connect to this socket instead\n"
    "  --raw                print the document as received (JSON), what would act on a\n"
    "                       terminal written as JSON escapes\n"
    "  --json               print what the view shows as JSON, in a layout kept stable\n"
    "  -n N, --all          rankings: show the first N rows, or every row (default: 20 on a\n"
    "                       terminal, every row otherwise)\n"
    "  --interval SECONDS   time between watch frames (default 2) or record's samples\n"
    "                       (default 10)\n"
    "  --timeout SECONDS    how long to wait for the answer (default 10)\n"
    "  --output FILE        metrics: replace FILE atomically instead of printing\n"
    "  --listen HOST:PORT   export: serve on this address, IPV4:PORT or [IPV6]:PORT; repeat\n"
    "                       for several (default 127.0.0.1:9464; any other than a loopback\n"
    "                       address exposes the readings to the network)\n"
    "  --web.config.file FILE  export: TLS, passwords and headers from FILE, in the web\n"
    "                       configuration format of Prometheus exporters; read again on SIGHUP\n"
    "  --other-users-processes  export: name other users' processes among the busiest too\n"
    "  --since TIME, --until TIME  history: the time to show (default: the last day up to\n"
    "                       now): a span back (90s, 10m, 3h, 2d, 1w), a date (2026-03-01), a\n"
    "                       date and time (2026-03-01 22:00) or a time of today (22:00)\n"
    "  --csv                history: a line per point, as CSV (--json: a document)\n"
    "  --plot FILE.svg      history: draw the sensors into an SVG picture too\n"
    "  -h, --help           show this text\n"
    "  --version            show the version\n"
    "\n"
    "exit status: 0 answered, 1 agent not reachable, 2 usage error, 3 no data (or none\n"
    "that decodes), 4 output not written, 5 no such disk, 6 the update check or install\n"
    "failed, 7 export: the listen address is in use, 8 record: another recorder keeps this\n"
    "history already\n"
    "\n"
    "example: brivane-sensors history 'k10temp*' --since 22:00 --until 07:00\n"
    "\n"
    "record runs as a user service the package ships turned off:\n"
    "  systemctl --user enable --now brivane-sensors-record.service   (disable --now: off)\n";

namespace {

struct Subcommand {
    const char* name;
    ipc::Selector selector;
    CliOptions::Action action = CliOptions::Action::request;
};

constexpr Subcommand subcommands[] = {
    {"snapshot", ipc::Selector::snapshot},
    {"cpu", ipc::Selector::cpuDetails},
    {"processes", ipc::Selector::processDetails},
    {"storage", ipc::Selector::storageHealth},
    {"manage", ipc::Selector::manage},
    {"metrics", ipc::Selector::snapshot, CliOptions::Action::metrics},
    {"export", ipc::Selector::snapshot, CliOptions::Action::exportMetrics},
    {"record", ipc::Selector::snapshot, CliOptions::Action::record},
    {"history", ipc::Selector::snapshot, CliOptions::Action::history},
    {"alerts", ipc::Selector::snapshot, CliOptions::Action::alerts},
};

constexpr std::string_view requestNames[] = {"snapshot", "cpu",     "processes", "storage",
                                             "manage",   "metrics", "export",    "watch",
                                             "record",   "history", "alerts"};
constexpr std::string_view optionNames[] = {"--team",
                                            "--endpoint",
                                            "--raw",
                                            "--json",
                                            "--interval",
                                            "--timeout",
                                            "--output",
                                            "--listen",
                                            "--help",
                                            "--version",
                                            "--all",
                                            "-n",
                                            "--web.config.file",
                                            "--other-users-processes",
                                            "--since",
                                            "--until",
                                            "--csv",
                                            "--plot",
                                            "--test",
                                            "--defaults"};
constexpr std::string_view processKinds[] = {"memory", "storage", "energy", "gpu"};
constexpr std::string_view commands[] = {"checkForUpdates", "installUpdate"};

// `what "word"`, then the nearest valid word if one is close.
std::string unknown(std::string_view what, const std::string& word,
                    std::span<const std::string_view> valid) {
    std::string text = std::string(what) + " \"" + word + "\"";
    if (const auto nearest = nearestWord(word, valid)) {
        text += " (did you mean " + std::string(*nearest) + "?)";
    }
    return text;
}

// The valid words of a list, for an error line: "memory, storage or energy".
std::string oneOf(std::span<const std::string_view> valid) {
    std::string text;
    for (std::size_t i = 0; i < valid.size(); ++i) {
        text += (i == 0 ? "" : i + 1 == valid.size() ? " or " : ", ") + std::string(valid[i]);
    }
    return text;
}

// Faster redraws only load the agent; its samplers average over longer windows anyway.
constexpr int minimumWatchIntervalMs = 100;
// A sample a second fills the history's day of samples with 86,400 rows already.
constexpr int minimumRecordIntervalMs = 1000;

std::optional<int> parseSeconds(const std::string& text) {
    const auto seconds = base::wholeNumber<double>(text);
    if (!seconds || !(*seconds > 0) || *seconds > 3600) {
        return std::nullopt;
    }
    return static_cast<int>(*seconds * 1000);
}

// A one-letter option may carry its value attached: -n5.
bool isShort(std::string_view name) {
    return name.size() == 2;
}

// --name VALUE or --name=VALUE: the value, or nothing when none follows. Moves i past a value
// that is the next word.

std::optional<std::string> valueOf(const std::vector<std::string>& words, std::size_t& i,
                                   std::string_view name) {
    const std::string prefix = std::string(name) + "=";
    if (words[i].starts_with(prefix)) {
        return words[i].substr(prefix.size());
    }
    if (isShort(name) && words[i].size() > name.size()) {
        return words[i].substr(name.size());
    }
    if (words[i] == name && i + 1 < words.size()) {
        return words[++i];
    }
    return std::nullopt;
}

// An option that takes a value: stores it (absent when none followed) and returns the error,
// empty when there is none.
struct ValueOption {
    std::string_view name;
    std::string (*store)(const std::optional<std::string>& text, CliOptions& options);
};

constexpr ValueOption valueOptions[] = {
    {"--interval",
     [](const std::optional<std::string>& text, CliOptions& options) -> std::string {
         options.intervalMs = text ? parseSeconds(*text) : std::nullopt;
         if (!options.intervalMs || *options.intervalMs < minimumWatchIntervalMs) {
             return "--interval needs a number of seconds, at least 0.1";
         }
         return {};
     }},
    {"--team",
     [](const std::optional<std::string>& text, CliOptions& options) -> std::string {
         if (!text) {
             return "--team needs a team identifier";
         }
         options.team = *text;
         return {};
     }},
    {"--endpoint",
     [](const std::optional<std::string>& text, CliOptions& options) -> std::string {
         if (!text || text->empty()) {
             return "--endpoint needs a socket path";
         }
         options.endpoint = *text;
         return {};
     }},
    {"--timeout",
     [](const std::optional<std::string>& text, CliOptions& options) -> std::string {
         const auto milliseconds = text ? parseSeconds(*text) : std::nullopt;
         if (!milliseconds) {
             return "--timeout needs a number of seconds";
         }
         options.timeoutMs = *milliseconds;
         return {};
     }},
    {"--output",
     [](const std::optional<std::string>& text, CliOptions& options) -> std::string {
         if (!text || text->empty()) {
             return "--output needs a file";
         }
         options.output = *text;
         return {};
     }},
    {"--listen",
     [](const std::optional<std::string>& text, CliOptions& options) -> std::string {
         if (!text || text->empty()) {
             return "--listen needs HOST:PORT";
         }
         options.listen.push_back(*text);
         return {};
     }},
    {"--web.config.file",
     [](const std::optional<std::string>& text, CliOptions& options) -> std::string {
         if (!text || text->empty()) {
             return "--web.config.file needs a file";
         }
         options.webConfigFile = *text;
         return {};
     }},
    {"--since",
     [](const std::optional<std::string>& text, CliOptions& options) -> std::string {
         if (!text || text->empty()) {
             return "--since needs a time: 10m, 3h, 2d, a date or a time";
         }
         options.since = *text;
         return {};
     }},
    {"--until",
     [](const std::optional<std::string>& text, CliOptions& options) -> std::string {
         if (!text || text->empty()) {
             return "--until needs a time: 10m, 3h, 2d, a date or a time";
         }
         options.until = *text;
         return {};
     }},
    {"--plot",
     [](const std::optional<std::string>& text, CliOptions& options) -> std::string {
         if (!text || text->empty()) {
             return "--plot needs a file to draw into";
         }
         options.plotFile = *text;
         return {};
     }},
    {"-n",
     [](const std::optional<std::string>& text, CliOptions& options) -> std::string {
         const auto rows = text ? base::wholeNumber<std::size_t>(*text) : std::nullopt;
         if (!rows || *rows == 0) {
             return "-n needs a number of rows, at least 1";
         }
         options.rows = *rows;
         return {};
     }},
};

// The value option a word names, as --name or --name=VALUE.
const ValueOption* valueOptionOf(const std::string& word) {
    for (const auto& option : valueOptions) {
        if (word.starts_with(option.name) &&
            (word.size() == option.name.size() || word[option.name.size()] == '=' ||
             isShort(option.name))) {
            return &option;
        }
    }
    return nullptr;
}

// Sets the flag a word names; false when it names none.
bool takeFlag(const std::string& word, CliOptions& options) {
    if (word == "--raw") {
        options.raw = true;
    } else if (word == "--json") {
        options.json = true;
    } else if (word == "-h" || word == "--help") {
        options.help = true;
    } else if (word == "--version") {
        options.version = true;
    } else if (word == "--other-users-processes") {
        options.otherUsersProcesses = true;
    } else if (word == "--test") {
        options.alertTest = true;
    } else if (word == "--defaults") {
        options.alertDefaults = true;
    } else if (word == "--csv") {
        options.csv = true;
    } else if (word == "--all") {
        options.rows = std::numeric_limits<std::size_t>::max();
    } else {
        return false;
    }
    return true;
}

// A word starting with '-' is the argument of processes, storage or manage when it stands
// where that argument goes (the agent answers it); elsewhere it is an option.
bool argumentMayStandHere(const std::vector<std::string>& positional) {
    const std::size_t at = !positional.empty() && positional[0] == "watch" ? 2 : 1;
    if (positional.size() != at) {
        return false;
    }
    const auto& request = positional[at - 1];
    return request == "processes" || request == "storage" || request == "manage";
}

// Stores the options and collects the other words in positional; the first wrong option's
// error.
std::optional<std::string> readWords(const std::vector<std::string>& arguments, CliOptions& options,
                                     std::vector<std::string>& positional) {
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        const std::string& word = arguments[i];
        if (takeFlag(word, options)) {
            continue;
        }
        if (const ValueOption* option = valueOptionOf(word)) {
            if (auto error = option->store(valueOf(arguments, i, option->name), options);
                !error.empty()) {
                return error;
            }
        } else if (word == "--") {
            positional.insert(positional.end(), arguments.begin() + i + 1, arguments.end());
            break;
        } else if (word.size() > 1 && word[0] == '-' && !argumentMayStandHere(positional)) {
            return unknown("unknown option", word, optionNames);
        } else {
            positional.push_back(word); // a request's argument may itself start with '-'
        }
    }
    return std::nullopt;
}

// Takes a leading "watch" (snapshot when nothing follows it); --interval needs one.
std::optional<std::string> takeWatch(CliOptions& options, std::vector<std::string>& positional) {
    if (!positional.empty() && positional[0] == "watch") {
        options.watch = true;
        positional.erase(positional.begin());
        if (positional.empty()) {
            positional.emplace_back("snapshot");
        }
    } else if (options.intervalMs && (positional.empty() || positional[0] != "record")) {
        return "--interval is for watch and record only";
    }
    return std::nullopt;
}

const Subcommand* subcommandNamed(const std::string& name) {
    for (const auto& subcommand : subcommands) {
        if (name == subcommand.name) {
            return &subcommand;
        }
    }
    return nullptr;
}

// Options given to a request that has no use for them.
std::optional<std::string> misplacedOption(const CliOptions& options) {
    if (options.output && options.action != CliOptions::Action::metrics) {
        return "--output belongs to metrics";
    }
    if (options.action != CliOptions::Action::exportMetrics) {
        if (!options.listen.empty()) {
            return "--listen belongs to export";
        }
        if (options.webConfigFile || options.otherUsersProcesses) {
            return std::string(options.webConfigFile ? "--web.config.file"
                                                     : "--other-users-processes") +
                   " belongs to export";
        }
    }
    const bool history = options.action == CliOptions::Action::history;
    if ((options.since || options.until || options.csv || options.plotFile) && !history) {
        return std::string(options.since   ? "--since"
                           : options.until ? "--until"
                           : options.csv   ? "--csv"
                                           : "--plot") +
               " belongs to history";
    }
    if ((options.alertTest || options.alertDefaults) &&
        options.action != CliOptions::Action::alerts) {
        return std::string(options.alertTest ? "--test" : "--defaults") + " belongs to alerts";
    }
    if (options.json && options.csv) {
        return "--json and --csv exclude each other";
    }
    if (options.json &&
        (options.raw || (options.action != CliOptions::Action::request && !history))) {
        return options.raw ? "--json and --raw exclude each other"
                           : "--json shows the requests' views and history, not metrics text";
    }
    if (options.raw && (history || options.action == CliOptions::Action::record)) {
        return "--raw shows the agent's documents, not the history";
    }
    if (options.intervalMs && options.action == CliOptions::Action::record &&
        *options.intervalMs < minimumRecordIntervalMs) {
        return "--interval of record needs at least 1 second";
    }
    // Repeating a command would download and open the same installer again and again; metrics
    // and export have their own rhythm.
    if (options.watch && (options.selector == ipc::Selector::manage ||
                          options.action != CliOptions::Action::request)) {
        return "watch repeats snapshot, cpu, processes and storage only";
    }
    return std::nullopt;
}

// storage alone, or storage list, lists the disks.
bool listsDisks(const CliOptions& options, const std::vector<std::string>& positional) {
    return options.selector == ipc::Selector::storageHealth && !options.watch &&
           (positional.size() == 1 || (positional.size() == 2 && positional[1] == "list"));
}

std::string argumentCountError(const CliOptions& options,
                               const std::vector<std::string>& positional, std::size_t wanted) {
    const auto& request = positional[0];
    if (wanted == 1) {
        return request + " takes no argument, not \"" + positional[1] + "\"";
    }
    if (positional.size() >= 2) {
        return request + " takes one argument, not " + std::to_string(positional.size() - 1);
    }
    if (options.selector == ipc::Selector::processDetails) {
        return request + " needs a kind: " + oneOf(processKinds);
    }
    if (options.selector == ipc::Selector::manage) {
        return request + " needs a command: " + oneOf(commands);
    }
    return request + " needs a disk";
}

// Kinds and commands are fixed words: a near miss is a typo, not a question for the agent.
std::optional<std::string> fixedWordError(const CliOptions& options, const std::string& request) {
    const auto fixed = [&](std::span<const std::string_view> valid,
                           std::string_view what) -> std::optional<std::string> {
        if (std::find(valid.begin(), valid.end(), *options.argument) != valid.end()) {
            return std::nullopt;
        }
        return unknown(what, *options.argument, valid) + "; " + request + " takes " + oneOf(valid);
    };
    if (options.selector == ipc::Selector::processDetails) {
        return fixed(processKinds, "unknown kind");
    }
    if (options.selector == ipc::Selector::manage) {
        return fixed(commands, "unknown command");
    }
    return std::nullopt;
}

// The request's argument, when it takes one; the error when it has the wrong number of them.
std::optional<std::string> takeArgument(CliOptions& options,
                                        const std::vector<std::string>& positional) {
    const std::size_t wanted = ipc::takesArgument(options.selector) ? 2 : 1;
    if (positional.size() != wanted) {
        return argumentCountError(options, positional, wanted);
    }
    if (wanted == 2) {
        options.argument = positional[1];
    }
    return fixedWordError(options, positional[0]);
}

ParsedCommandLine failed(std::string error) {
    return {std::nullopt, std::move(error)};
}

} // namespace

ParsedCommandLine parseCommandLine(const std::vector<std::string>& arguments,
                                   std::string defaultTeam) {
    CliOptions options;
    options.team = std::move(defaultTeam);
    std::vector<std::string> positional;
    if (auto error = readWords(arguments, options, positional)) {
        return failed(std::move(*error));
    }
    if (options.help || options.version) {
        return {options, {}};
    }
    if (auto error = takeWatch(options, positional)) {
        return failed(std::move(*error));
    }
    // As a plain `sensors` shows everything: the snapshot.
    if (positional.empty()) {
        positional.emplace_back("snapshot");
    }
    const Subcommand* chosen = subcommandNamed(positional[0]);
    if (!chosen) {
        return failed(unknown("unknown request", positional[0], requestNames));
    }
    options.selector = chosen->selector;
    options.action = chosen->action;
    if (auto error = misplacedOption(options)) {
        return failed(std::move(*error));
    }
    if (listsDisks(options, positional)) {
        options.action = CliOptions::Action::disks;
        return {options, {}};
    }
    if (options.action == CliOptions::Action::history) {
        options.sensors.assign(positional.begin() + 1, positional.end());
        return {options, {}};
    }
    if (auto error = takeArgument(options, positional)) {
        return failed(std::move(*error));
    }
    return {options, {}};
}

std::string requestText(const CliOptions& options) {
    for (const auto& subcommand : subcommands) {
        if (subcommand.selector == options.selector) {
            return subcommand.name + (options.argument ? " " + *options.argument : std::string());
        }
    }
    return {};
}

} // namespace brivane::cli
