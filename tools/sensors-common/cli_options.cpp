#include "cli_options.h"

#include "formats/nearest_word.h"
#include "formats/whole_number.h"

#include <algorithm>
#include <limits>
#include <span>

namespace brivane::cli {

const char* const usageText =
    "usage: brivane-sensors [options] <request>\n"
    "       brivane-sensors watch [<request>] [--interval SECONDS] [options]\n"
    "\n"
    "requests:\n"
    "  snapshot             temperatures, fans, power, graphics, accessories\n"
    "  cpu                  busiest processes and CPU performance-state residencies\n"
    "  processes <kind>     processes ranked by memory, storage or energy\n"
    "  storage [list]       this machine's disks: agent name, kernel name, model\n"
    "  storage <disk>       SMART health of a disk: disk0, or its kernel name (nvme0n1,\n"
    "                       /dev/sda)\n"
    "  manage <command>     checkForUpdates or installUpdate\n"
    "  metrics              the snapshot as Prometheus metrics text\n"
    "  export               serve the snapshot as Prometheus metrics over HTTP until stopped\n"
    "\n"
    "watch redraws the request's view in place until interrupted (Ctrl-C); with --raw it\n"
    "prints one document per line instead.\n"
    "\n"
    "options (before or after the request):\n"
    "  --team ID            team identifier that names the agent's endpoint\n"
    "  --endpoint PATH      connect to this socket instead\n"
    "  --raw                print the document bytes exactly as received\n"
    "  -n N, --all          rankings: show the first N rows, or every row (default: 20 on a\n"
    "                       terminal, every row otherwise)\n"
    "  --interval SECONDS   time between watch frames (default 2)\n"
    "  --timeout SECONDS    how long to wait for the answer (default 10)\n"
    "  --output FILE        metrics: replace FILE atomically instead of printing\n"
    "  --listen IPV4:PORT   export: serve on this address (default 127.0.0.1:9464; any\n"
    "                       other than a loopback address exposes the readings to the network)\n"
    "  -h, --help           show this text\n"
    "  --version            show the version\n"
    "\n"
    "exit status: 0 answered, 1 agent not reachable, 2 usage error, 3 no data,\n"
    "4 metrics output not written, 5 no such disk, 6 the update check or install failed\n";

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
};

constexpr std::string_view requestNames[] = {"snapshot", "cpu",     "processes", "storage",
                                             "manage",   "metrics", "export",    "watch"};
constexpr std::string_view optionNames[] = {"--team",    "--endpoint", "--raw",    "--interval",
                                            "--timeout", "--output",   "--listen", "--help",
                                            "--version", "--all",      "-n"};
constexpr std::string_view processKinds[] = {"memory", "storage", "energy"};
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

std::optional<int> parseSeconds(const std::string& text) {
    const auto seconds = wholeNumber<double>(text);
    if (!seconds || !(*seconds > 0) || *seconds > 3600) {
        return std::nullopt;
    }
    return static_cast<int>(*seconds * 1000);
}

} // namespace

ParsedCommandLine parseCommandLine(const std::vector<std::string>& arguments,
                                   std::string defaultTeam) {
    CliOptions options;
    options.team = std::move(defaultTeam);
    std::vector<std::string> positional;
    // Where a request's argument stands among the positional words.
    const auto argumentIndex = [&positional] {
        return !positional.empty() && positional[0] == "watch" ? 2u : 1u;
    };
    // A word starting with '-' is the argument of processes, storage or manage when it stands
    // where that argument goes (the agent answers it); elsewhere it is an option.
    const auto argumentMayStandHere = [&] {
        const auto at = argumentIndex();
        if (positional.size() != at) {
            return false;
        }
        const auto& request = positional[at - 1];
        return request == "processes" || request == "storage" || request == "manage";
    };

    for (std::size_t i = 0; i < arguments.size(); ++i) {
        const std::string& word = arguments[i];
        auto value = [&](std::string_view name) -> std::optional<std::string> {
            const std::string prefix = std::string(name) + "=";
            if (word.rfind(prefix, 0) == 0) {
                return word.substr(prefix.size());
            }
            if (word == name && i + 1 < arguments.size()) {
                return arguments[++i];
            }
            return std::nullopt;
        };
        // --name VALUE or --name=VALUE
        const auto is = [&word](std::string_view name) {
            return word.starts_with(name) &&
                   (word.size() == name.size() || word[name.size()] == '=');
        };
        if (word == "--raw") {
            options.raw = true;
        } else if (word == "-h" || word == "--help") {
            options.help = true;
        } else if (word == "--version") {
            options.version = true;
        } else if (is("--interval")) {
            auto text = value("--interval");
            options.intervalMs = text ? parseSeconds(*text) : std::nullopt;
            if (!options.intervalMs || *options.intervalMs < minimumWatchIntervalMs) {
                return {std::nullopt, "--interval needs a number of seconds, at least 0.1"};
            }
        } else if (is("--team")) {
            auto team = value("--team");
            if (!team) {
                return {std::nullopt, "--team needs a team identifier"};
            }
            options.team = *team;
        } else if (is("--endpoint")) {
            auto path = value("--endpoint");
            if (!path || path->empty()) {
                return {std::nullopt, "--endpoint needs a socket path"};
            }
            options.endpoint = *path;
        } else if (is("--timeout")) {
            auto text = value("--timeout");
            auto milliseconds = text ? parseSeconds(*text) : std::nullopt;
            if (!milliseconds) {
                return {std::nullopt, "--timeout needs a number of seconds"};
            }
            options.timeoutMs = *milliseconds;
        } else if (is("--output") || is("--listen")) {
            const bool output = is("--output");
            auto text = value(output ? "--output" : "--listen");
            if (!text || text->empty()) {
                return {std::nullopt,
                        output ? "--output needs a file" : "--listen needs IPV4:PORT"};
            }
            (output ? options.output : options.listen) = *text;
        } else if (word == "--") {
            positional.insert(positional.end(), arguments.begin() + i + 1, arguments.end());
            break;
        } else if (word == "--all") {
            options.rows = std::numeric_limits<std::size_t>::max();
        } else if (word == "-n" || word.starts_with("-n=")) {
            auto text = value("-n");
            const auto rows = text ? wholeNumber<std::size_t>(*text) : std::nullopt;
            if (!rows || *rows == 0) {
                return {std::nullopt, "-n needs a number of rows, at least 1"};
            }
            options.rows = *rows;
        } else if (word.size() > 1 && word[0] == '-' && !argumentMayStandHere()) {
            return {std::nullopt, unknown("unknown option", word, optionNames)};
        } else {
            positional.push_back(word); // a request's argument may itself start with '-'
        }
    }
    if (options.help || options.version) {
        return {options, {}};
    }
    if (!positional.empty() && positional[0] == "watch") {
        options.watch = true;
        positional.erase(positional.begin());
        if (positional.empty()) {
            positional.emplace_back("snapshot");
        }
    } else if (options.intervalMs) {
        return {std::nullopt, "--interval is for watch only"};
    }
    if (positional.empty()) {
        return {std::nullopt, "no request given"};
    }
    const Subcommand* chosen = nullptr;
    for (const auto& subcommand : subcommands) {
        if (positional[0] == subcommand.name) {
            chosen = &subcommand;
        }
    }
    if (!chosen) {
        return {std::nullopt, unknown("unknown request", positional[0], requestNames)};
    }
    options.selector = chosen->selector;
    options.action = chosen->action;
    if (options.output && options.action != CliOptions::Action::metrics) {
        return {std::nullopt, "--output belongs to metrics"};
    }
    if (options.listen && options.action != CliOptions::Action::exportMetrics) {
        return {std::nullopt, "--listen belongs to export"};
    }
    // Repeating a command would download and open the same installer again and again; metrics
    // and export have their own rhythm.
    if (options.watch && (options.selector == ipc::Selector::manage ||
                          options.action != CliOptions::Action::request)) {
        return {std::nullopt, "watch repeats snapshot, cpu, processes and storage only"};
    }
    // storage alone, or storage list, lists the disks.
    if (options.selector == ipc::Selector::storageHealth && !options.watch &&
        (positional.size() == 1 || (positional.size() == 2 && positional[1] == "list"))) {
        options.action = CliOptions::Action::disks;
        return {options, {}};
    }
    const std::size_t wanted = ipc::takesArgument(chosen->selector) ? 2 : 1;
    if (positional.size() != wanted) {
        return {std::nullopt,
                wanted == 1 ? positional[0] + " takes no argument, not \"" + positional[1] + "\""
                : positional.size() < 2 ? positional[0] + " needs " +
                                              (options.selector == ipc::Selector::processDetails
                                                   ? "a kind: " + oneOf(processKinds)
                                               : options.selector == ipc::Selector::manage
                                                   ? "a command: " + oneOf(commands)
                                                   : std::string("a disk"))
                                        : positional[0] + " takes one argument, not " +
                                              std::to_string(positional.size() - 1)};
    }
    if (wanted == 2) {
        options.argument = positional[1];
    }
    // Kinds and commands are fixed words: a near miss is a typo, not a question for the agent.
    const auto fixed = [&](std::span<const std::string_view> valid, std::string_view what) {
        if (std::find(valid.begin(), valid.end(), *options.argument) != valid.end()) {
            return std::string();
        }
        return unknown(what, *options.argument, valid) + "; " + positional[0] + " takes " +
               oneOf(valid);
    };
    std::string wrong;
    if (options.selector == ipc::Selector::processDetails) {
        wrong = fixed(processKinds, "unknown kind");
    } else if (options.selector == ipc::Selector::manage) {
        wrong = fixed(commands, "unknown command");
    }
    if (!wrong.empty()) {
        return {std::nullopt, wrong};
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
