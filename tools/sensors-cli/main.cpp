// brivane-sensors: asks the running agent for one document and shows it, once or as a live view.

#include "cpu_state_names.h"
#include "disk_list.h"
#include "document_view.h"
#include "export_handover.h"
#include "formats/document_codec.h"
#include "history/history_trends.h"
#include "metrics_commands.h"
#include "sensors-common/agent_connection.h"
#include "sensors-common/cli_options.h"
#include "terminal.h"
#include "terminal_text.h"
#include "watch.h"

#include <chrono>
#include <cstdio>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

using namespace brivane::cli;

// How long `record` waits for the agent before it hands over (it may be starting).
constexpr int agentCheckAheadMs = 2000;

// Rankings show this many rows on a terminal unless -n or --all says otherwise.
constexpr std::size_t terminalRows = 20;

// Standard output through stdio alone: the process then never sets up the C++ streams.
bool print(std::string_view text) {
    return std::fwrite(text.data(), 1, text.size(), stdout) == text.size();
}

int fail(int status, const std::string& line) {
    printProblem(line);
    return status;
}

// Says once per agent process that it was made to load foreign code.
void warnOfLoader(const AgentConnection& agent, std::int64_t& warned) {
    const auto& loader = agent.agentLoader();
    if (loader && loader->pid != warned && loader->findings.altered()) {
        printProblem(loaderWarning(*loader));
        warned = loader->pid;
    }
}

// The agent's answer to the request of options.
AgentConnection::Answer ask(AgentConnection& agent, const CliOptions& options) {
    auto answer = agent.ask(options.selector, options.argument);
    if (answer.status == noData && answer.text.empty()) {
        answer.text = "no data (the agent did not recognise the request's argument or could not "
                      "produce the document)";
    }
    return answer;
}

// Scripts reading --json get every row unless they ask for fewer, and no terminal's manners.
ViewOptions viewOptions(const CliOptions& options, const Terminal& terminal) {
    ViewOptions view;
    view.rows = options.rows                           ? options.rows
                : terminal.isTerminal && !options.json ? std::optional(terminalRows)
                                                       : std::nullopt;
    view.utf8 = terminal.utf8 || options.json;
    if (!options.json) {
        view.hotOn = terminal.hotOn;
        view.hotOff = terminal.hotOff;
    }
    if (options.selector == brivane::ipc::Selector::cpuDetails) {
        view.stateNames = localStateNames();
    }
    return view;
}

std::int64_t wallClockMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

// A document that does not decode shows nothing of itself; --json says so in its object.
RenderedView render(const CliOptions& options, const ViewOptions& view, const std::string& document,
                    HistoryTrends* trends = nullptr) {
    if (options.raw) {
        auto safe = terminalSafeJson(document);
        return {safe.value_or(""), safe.has_value()};
    }
    if (auto shown = viewDocument(options.selector, options.argument, document, view)) {
        if (trends && !options.json) {
            trends->annotate(*shown, wallClockMs());
        }
        return {options.json ? renderJson(*shown, requestText(options), wallClockMs())
                             : renderText(*shown, view.utf8, view.hotOn, view.hotOff)};
    }
    if (!options.json) {
        return {{}, false};
    }
    DocumentView undecodable;
    undecodable.fields.push_back({"undecodable", {}, {{}, true}, false});
    return {renderJson(undecodable, requestText(options), wallClockMs()), false};
}

std::string undecodableProblem(const CliOptions& options) {
    return options.raw ? "the agent's answer is not a JSON document"
                       : "the agent's answer to " + requestText(options) +
                             " did not decode as its document";
}

int showDisks(const CliOptions& options) {
    const auto view = diskListView(listDisks(brivane::platform::posix::RootedDirectory("/sys")));
    print(options.raw    ? renderJsonRows(view.sections.front())
          : options.json ? renderJson(view, "storage list", wallClockMs())
                         : renderText(view));
    return answered;
}

// A management command that did not do what it was asked is a failure of the command.
bool commandFailed(const CliOptions& options, const std::string& document) {
    if (options.selector != brivane::ipc::Selector::manage) {
        return false;
    }
    const auto update = brivane::decodeSensorCompanionUpdate(document);
    if (update && updatesComeFromThePackageManager(*update)) {
        return false;
    }
    return !update || update->state == brivane::SensorCompanionUpdate::State::failed ||
           update->state == brivane::SensorCompanionUpdate::State::busy;
}

int runOnce(CliOptions options) {
    const bool storage = options.selector == brivane::ipc::Selector::storageHealth;
    std::vector<DiskEntry> disks;
    if (storage) {
        // Kernel names and device paths become the agent's names; a diskN it does not list
        // may still be the agent's (a simulated machine), so it is asked.
        disks = listDisks(brivane::platform::posix::RootedDirectory("/sys"));
        const auto named = agentDiskName(*options.argument, disks);
        const std::string typed = options.argument->starts_with("/dev/")
                                      ? options.argument->substr(5)
                                      : *options.argument;
        if (!named && !typed.starts_with("disk")) {
            return fail(noSuchDisk, "no disk \"" + *options.argument +
                                        "\" on this machine; brivane-sensors storage list "
                                        "shows the disks");
        }
        options.argument = named.value_or(typed);
    }
    AgentConnection agent(options);
    const auto answer = ask(agent, options);
    if (answer.status != answered) {
        return fail(answer.status, answer.text);
    }
    std::int64_t warned = 0;
    warnOfLoader(agent, warned);
    if (storage && !agentDiskName(*options.argument, disks)) {
        const auto health = brivane::decodeStorageHealthSnapshot(answer.text);
        if (health && !health->reading) {
            return fail(noSuchDisk, "no disk \"" + *options.argument +
                                        "\" on this machine; brivane-sensors storage list "
                                        "shows the disks");
        }
    }
    // A raw document needs nothing of the terminal (nor the time terminfo takes).
    const auto view =
        options.raw ? ViewOptions{} : viewOptions(options, describeTerminal(STDOUT_FILENO));
    const auto shown = render(options, view, answer.text);
    // An answer that did not reach the output is not one (a full disk, a failing device).
    bool written = print(shown.text);
    if (!shown.decoded) {
        return fail(noData, undecodableProblem(options));
    }
    if (options.raw && (shown.text.empty() || shown.text.back() != '\n')) {
        written = written && std::fputc('\n', stdout) != EOF;
    }
    if (!written || std::fflush(stdout) != 0) {
        return fail(notWritten, "cannot write the answer");
    }
    return commandFailed(options, answer.text) ? updateFailed : answered;
}

int runWatch(const CliOptions& options) {
    AgentConnection agent(options);
    const auto terminal = describeTerminal(STDOUT_FILENO);
    const auto view = viewOptions(options, terminal);
    // Block characters need UTF-8; the history opens only where a recorder keeps one.
    auto trends = !options.raw && !options.json && terminal.utf8 &&
                          options.selector == brivane::ipc::Selector::snapshot
                      ? HistoryTrends::open()
                      : std::nullopt;
    std::int64_t warned = 0;
    return brivane::cli::runWatch(
        options, terminal,
        [&] {
            auto answer = ask(agent, options);
            warnOfLoader(agent, warned);
            return WatchAnswer{answer.status == answered, std::move(answer.text)};
        },
        [&](const std::string& document) {
            return render(options, view, document, trends ? &*trends : nullptr);
        },
        undecodableProblem(options));
}

} // namespace

int main(int argc, char** argv) {
    const std::vector<std::string> arguments(argv + 1, argv + argc);
    const auto parsed = parseCommandLine(arguments, BRIVANE_TEAM_ID);
    if (!parsed.options) {
        return fail(usage, parsed.error + "; see brivane-sensors --help");
    }
    if (parsed.options->help) {
        print(usageText);
        return answered;
    }
    if (parsed.options->version) {
        print("brivane-sensors " BRIVANE_VERSION "\n");
        return answered;
    }
    switch (parsed.options->action) {
    case CliOptions::Action::request:
        return parsed.options->watch ? runWatch(*parsed.options) : runOnce(*parsed.options);
    case CliOptions::Action::disks:
        return showDisks(*parsed.options);
    case CliOptions::Action::exportMetrics:
        return handOverToExporter(argv);
    case CliOptions::Action::record:
        // The recorder runs for days. Checked here, in a process about to be replaced, the
        // agent's verdict is kept for it, so that it never maps the cryptography library.
        // Best effort: the recorder tells of an agent it cannot reach itself.
        AgentConnection(*parsed.options)
            .ask(brivane::ipc::Selector::snapshot, std::nullopt, agentCheckAheadMs);
        return handOverToRecorder(argv);
    case CliOptions::Action::alerts:
    case CliOptions::Action::history:
        return handOverToRecorder(argv);
    case CliOptions::Action::metrics:
        break;
    }
    return runMetrics(*parsed.options);
}
