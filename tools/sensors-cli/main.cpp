// brivane-sensors: asks the running agent for one document and shows it, once or as a live view.

#include "cli_options.h"
#include "core/sensor_companion_identity.h"
#include "document_view.h"
#include "ipc/sensor_client.h"
#include "metrics_commands.h"
#include "watch.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

namespace {

using brivane::ipc::SensorClient;

enum ExitStatus { answered = 0, unreachable = 1, usage = 2, noData = 3 };

struct Answer {
    ExitStatus status = answered;
    std::string text; // the document when answered, else what went wrong
};

// The agent's connection, kept across the frames of a watch and made again after a failure.
class Agent {
public:
    explicit Agent(const brivane::cli::CliOptions& options) : options_(options) {}

    Answer ask() {
        std::string problem;
        // One deadline for connecting and answering together.
        const auto started = std::chrono::steady_clock::now();
        if (!client_ || !client_->isOpen()) {
            auto path = options_.endpoint;
            if (!path) {
                path = brivane::ipc::endpointPathForService(
                    brivane::SensorCompanionIdentity::service(options_.team), problem);
                if (!path) {
                    return {unreachable, "no runtime directory: " + problem};
                }
            }
            client_ = SensorClient::connect(*path, problem, options_.timeoutMs);
            if (!client_) {
                return {unreachable, "the sensor agent is not running (" + problem + ")"};
            }
        }
        const auto spent = std::chrono::duration_cast<std::chrono::milliseconds>(
            std::chrono::steady_clock::now() - started);
        auto outcome =
            client_->call(options_.selector, options_.argument,
                          std::max(0, options_.timeoutMs - static_cast<int>(spent.count())));
        if (outcome.status != SensorClient::Status::replied) {
            client_.reset();
            return {unreachable, outcome.status == SensorClient::Status::timedOut
                                     ? "the agent did not answer in time"
                                     : "the agent closed the connection without answering "
                                       "(this client may not be admitted)"};
        }
        if (!outcome.reply.document) {
            return {noData, "no data (the agent did not recognise the request's argument or "
                            "could not produce the document)"};
        }
        return {answered, std::move(*outcome.reply.document)};
    }

private:
    const brivane::cli::CliOptions& options_;
    std::unique_ptr<SensorClient> client_;
};

std::string view(const brivane::cli::CliOptions& options, const std::string& document) {
    if (auto shown = brivane::cli::renderDocument(options.selector, options.argument, document)) {
        return std::move(*shown);
    }
    return "(the document did not decode; its bytes follow)\n" + document + "\n";
}

int runOnce(const brivane::cli::CliOptions& options) {
    const Answer answer = Agent(options).ask();
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

int runWatch(const brivane::cli::CliOptions& options) {
    Agent agent(options);
    return brivane::cli::runWatch(
        options,
        [&agent] {
            Answer answer = agent.ask();
            return brivane::cli::WatchAnswer{answer.status == answered, std::move(answer.text)};
        },
        [&options](const std::string& document) { return view(options, document); });
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
    if (parsed.options->version) {
        std::cout << "brivane-sensors " << BRIVANE_VERSION << "\n";
        return answered;
    }
    if (parsed.options->action != brivane::cli::CliOptions::Action::request) {
        return brivane::cli::runMetricsRequest(*parsed.options);
    }
    return parsed.options->watch ? runWatch(*parsed.options) : runOnce(*parsed.options);
}
