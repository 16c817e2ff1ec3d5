// brivane-sensors: asks the running agent for one document and shows it.

#include "cli_options.h"
#include "core/sensor_companion_identity.h"
#include "document_view.h"
#include "ipc/sensor_client.h"
#include "metrics_commands.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <iostream>
#include <string>
#include <vector>

namespace {

enum ExitStatus { answered = 0, unreachable = 1, usage = 2, noData = 3 };

int run(const brivane::cli::CliOptions& options) {
    using brivane::ipc::SensorClient;
    std::string problem;
    auto path = options.endpoint;
    if (!path) {
        path = brivane::ipc::endpointPathForService(
            brivane::SensorCompanionIdentity::service(options.team), problem);
        if (!path) {
            std::cerr << "brivane-sensors: no runtime directory: " << problem << "\n";
            return unreachable;
        }
    }
    const auto started = std::chrono::steady_clock::now();
    auto client = SensorClient::connect(*path, problem, options.timeoutMs);
    if (!client) {
        std::cerr << "brivane-sensors: the sensor agent is not running (" << problem << ")\n";
        return unreachable;
    }
    // One deadline for connecting and answering together.
    const auto spent = std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::steady_clock::now() - started);
    const auto outcome =
        client->call(options.selector, options.argument,
                     std::max(0, options.timeoutMs - static_cast<int>(spent.count())));
    if (outcome.status == SensorClient::Status::timedOut) {
        std::cerr << "brivane-sensors: the agent did not answer in time\n";
        return unreachable;
    }
    if (outcome.status == SensorClient::Status::disconnected) {
        std::cerr << "brivane-sensors: the agent closed the connection without answering "
                     "(this client may not be admitted)\n";
        return unreachable;
    }
    if (!outcome.reply.document) {
        std::cerr << "brivane-sensors: no data (the agent did not recognise the request's "
                     "argument or could not produce the document)\n";
        return noData;
    }
    const std::string& document = *outcome.reply.document;
    if (options.raw) {
        std::fwrite(document.data(), 1, document.size(), stdout);
        return answered;
    }
    if (auto view = brivane::cli::renderDocument(options.selector, options.argument, document)) {
        std::cout << *view;
    } else {
        std::cout << "(the document did not decode; its bytes follow)\n" << document << "\n";
    }
    return answered;
}

} // namespace

int main(int argc, char** argv) {
    const std::vector<std::string> arguments(argv + 1, argv + argc);
    const auto parsed = brivane::cli::parseCommandLine(arguments, BRIVANE_TEAM_ID);
    if (!parsed.options) {
        std::cerr << "brivane-sensors: " << parsed.error << "\n\n" << brivane::cli::usageText;
        return usage;
    }
    if (parsed.options->help) {
        std::cout << brivane::cli::usageText;
        return answered;
    }
    if (parsed.options->action != brivane::cli::CliOptions::Action::request) {
        return brivane::cli::runMetricsRequest(*parsed.options);
    }
    return run(*parsed.options);
}
