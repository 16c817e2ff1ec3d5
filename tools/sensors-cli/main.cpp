// brivane-sensors: asks the running agent for one document and shows it, once or as a live view.

#include "agent_connection.h"
#include "cli_options.h"
#include "document_view.h"
#include "export_command.h"
#include "metrics_commands.h"
#include "watch.h"

#include <cstdio>
#include <iostream>
#include <string>
#include <vector>

namespace {

using namespace brivane::cli;

// The agent's answer to the request of options.
AgentConnection::Answer ask(AgentConnection& agent, const CliOptions& options) {
    auto answer = agent.ask(options.selector, options.argument);
    if (answer.status == noData) {
        answer.text = "no data (the agent did not recognise the request's argument or could not "
                      "produce the document)";
    }
    return answer;
}

std::string view(const CliOptions& options, const std::string& document) {
    if (auto shown = renderDocument(options.selector, options.argument, document)) {
        return std::move(*shown);
    }
    return "(the document did not decode; its bytes follow)\n" + document + "\n";
}

int runOnce(const CliOptions& options) {
    AgentConnection agent(options);
    const auto answer = ask(agent, options);
    if (answer.status != answered) {
        std::cerr << "brivane-sensors: " << answer.text << "\n";
        return answer.status;
    }
    if (options.raw) {
        std::fwrite(answer.text.data(), 1, answer.text.size(), stdout);
    } else {
        std::cout << view(options, answer.text);
    }
    return answered;
}

int runWatch(const CliOptions& options) {
    AgentConnection agent(options);
    return brivane::cli::runWatch(
        options,
        [&] {
            auto answer = ask(agent, options);
            return WatchAnswer{answer.status == answered, std::move(answer.text)};
        },
        [&options](const std::string& document) { return view(options, document); });
}

} // namespace

int main(int argc, char** argv) {
    const std::vector<std::string> arguments(argv + 1, argv + argc);
    const auto parsed = parseCommandLine(arguments, BRIVANE_TEAM_ID);
    if (!parsed.options) {
        std::cerr << "brivane-sensors: " << parsed.error << "\n\n" << usageText;
        return usage;
    }
    if (parsed.options->help) {
        std::cout << usageText;
        return answered;
    }
    if (parsed.options->version) {
        std::cout << "brivane-sensors " << BRIVANE_VERSION << "\n";
        return answered;
    }
    if (parsed.options->action == CliOptions::Action::exportMetrics) {
        return handOverToExporter(argv);
    }
    if (parsed.options->action == CliOptions::Action::metrics) {
        return runMetrics(*parsed.options);
    }
    return parsed.options->watch ? runWatch(*parsed.options) : runOnce(*parsed.options);
}
