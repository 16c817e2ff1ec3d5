#include "agent_connection.h"

#include "backends/posix/trust/exe_signature_source.h"
#include "identity/sensor_companion_identity.h"

#include <algorithm>
#include <chrono>

namespace brivane::cli {
namespace {

// One signature source for the process, so its verdict cache serves every connection. Its
// verdicts on a packaged agent are kept in the runtime directory for the next run.
std::shared_ptr<const ipc::AgentCheck> agentCheck(platform::Endpoints& endpoints,
                                                  const std::string& team) {
    static const auto signatures = std::make_shared<platform::posix::ExeSignatureSource>(
        std::make_shared<const platform::posix::CmsVerifier>(), endpoints.runtimeDirectory().path);
    return std::make_shared<const ipc::AgentCheck>(team, signatures, endpoints.currentUserId());
}

} // namespace

void AgentConnection::inspectAgent() {
    loader_.reset();
    if (const auto pid = client_->admittedPeer()) {
        static const platform::posix::RootedDirectory proc("/proc");
        if (auto findings = platform::posix::inspectLoader(proc, pid)) {
            loader_ = AgentLoader{pid, std::move(*findings)};
        }
    }
}

std::string loaderWarning(const AgentConnection::AgentLoader& loader) {
    if (!loader.findings.altered()) {
        return {};
    }
    return "warning: the sensor agent (pid " + std::to_string(loader.pid) + ") " +
           platform::posix::describe(loader.findings) +
           ": whoever started it so can forge its readings";
}

AgentConnection::AgentConnection(std::string endpoint, int timeoutMs)
    : endpoint_(std::move(endpoint)), team_(BRIVANE_TEAM_ID), timeoutMs_(timeoutMs),
      check_(agentCheck(endpoints_, team_)) {}

AgentConnection::AgentConnection(const CliOptions& options)
    : endpoint_(options.endpoint), team_(options.team), timeoutMs_(options.timeoutMs),
      check_(agentCheck(endpoints_, team_)) {}

AgentConnection::Answer AgentConnection::ask(ipc::Selector selector,
                                             const std::optional<std::string>& argument,
                                             std::optional<int> limitMs) {
    using ipc::SensorClient;
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(limitMs.value_or(timeoutMs_));
    const auto left = [&deadline] {
        return std::max(0, static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                                deadline - std::chrono::steady_clock::now())
                                                .count()));
    };
    if (client_ && !client_->isOpen()) {
        client_.reset();
    }
    // Once an agent from before an upgrade answered, that is what the user needs to hear,
    // whatever the second attempt meets (the old agent gone, or not yet).
    bool upgraded = false;
    const auto failure = [&upgraded](std::string text) -> Answer {
        return {unreachable, upgraded ? "the sensor agent was upgraded; it restarts on the next "
                                        "request"
                                      : std::move(text)};
    };
    for (int attempt = 0; attempt < 2; ++attempt) {
        const bool kept = client_ != nullptr;
        if (!kept) {
            std::string problem;
            auto path = endpoint_;
            if (!path) {
                path = ipc::endpointPathForService(
                    endpoints_, identity::SensorCompanionIdentity::service(team_), problem);
                if (!path) {
                    return failure("no runtime directory: " + problem);
                }
            }
            client_ = SensorClient::connect(endpoints_, *path, problem, left());
            if (!client_) {
                return failure("the sensor agent is not running (" + problem +
                               "); start it with brivane-sensor-companion --install");
            }
            client_->requireSender(check_);
            client_->limitReplies(maximumDocumentBytes);
        }
        auto outcome = client_->call(selector, argument, left());
        if (outcome.status == SensorClient::Status::refused) {
            const auto why = client_->refusal();
            client_.reset();
            upgraded = upgraded || why.upgraded;
            // A connection made while the service manager still held the socket alone names
            // the manager as its peer; the agent that answered it has listened since. An agent
            // from before an upgrade ends after answering, and the socket starts the new one.
            if (attempt == 0 && (!kept || why.upgraded)) {
                continue;
            }
            return failure("the process answering on the endpoint is not the signed sensor "
                           "agent: " +
                           why.reason);
        }
        if (outcome.status == SensorClient::Status::oversized) {
            client_.reset();
            return {noData, "the agent's answer of " + std::to_string(outcome.announcedBytes) +
                                " bytes is larger than a document may be (" +
                                std::to_string(maximumDocumentBytes / (1024 * 1024)) +
                                " MiB); it was not read"};
        }
        if (outcome.status == SensorClient::Status::replied) {
            if (!kept) {
                inspectAgent();
            }
            if (!outcome.reply.document) {
                return {noData, {}};
            }
            return {answered, std::move(*outcome.reply.document)};
        }
        // A late reply would otherwise arrive as the answer to the next request.
        client_.reset();
        if (outcome.status == SensorClient::Status::timedOut) {
            return failure("the agent did not answer in time");
        }
        if (!kept) {
            break;
        }
    }
    return failure("the agent closed the connection without answering (this client may not be "
                   "admitted)");
}

} // namespace brivane::cli
