#include "agent_connection.h"

#include "identity/sensor_companion_identity.h"

#include <algorithm>
#include <chrono>

namespace brivane::cli {

AgentConnection::AgentConnection(std::string endpoint, int timeoutMs)
    : endpoint_(std::move(endpoint)), timeoutMs_(timeoutMs) {}

AgentConnection::AgentConnection(const CliOptions& options)
    : endpoint_(options.endpoint), team_(options.team), timeoutMs_(options.timeoutMs) {}

AgentConnection::Answer AgentConnection::ask(ipc::Selector selector,
                                             const std::optional<std::string>& argument) {
    using ipc::SensorClient;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs_);
    const auto left = [&deadline] {
        return std::max(0, static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                                deadline - std::chrono::steady_clock::now())
                                                .count()));
    };
    if (client_ && !client_->isOpen()) {
        client_.reset();
    }
    for (int attempt = 0; attempt < 2; ++attempt) {
        const bool kept = client_ != nullptr;
        if (!kept) {
            std::string problem;
            auto path = endpoint_;
            if (!path) {
                path = ipc::endpointPathForService(
                    endpoints_, SensorCompanionIdentity::service(team_), problem);
                if (!path) {
                    return {unreachable, "no runtime directory: " + problem};
                }
            }
            client_ = SensorClient::connect(endpoints_, *path, problem, left());
            if (!client_) {
                return {unreachable, "the sensor agent is not running (" + problem + ")"};
            }
        }
        auto outcome = client_->call(selector, argument, left());
        if (outcome.status == SensorClient::Status::replied) {
            if (!outcome.reply.document) {
                return {noData, {}};
            }
            return {answered, std::move(*outcome.reply.document)};
        }
        // A late reply would otherwise arrive as the answer to the next request.
        client_.reset();
        if (outcome.status == SensorClient::Status::timedOut) {
            return {unreachable, "the agent did not answer in time"};
        }
        if (!kept) {
            break;
        }
    }
    return {unreachable, "the agent closed the connection without answering (this client may "
                         "not be admitted)"};
}

} // namespace brivane::cli
