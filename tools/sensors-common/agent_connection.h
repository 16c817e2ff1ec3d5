#pragma once

#include "backends/posix/kernel_files/loader_inspection.h"
#include "backends/posix/system/unix_endpoints.h"
#include "cli_options.h"
#include "ipc/sensor_client.h"

#include <memory>
#include <optional>
#include <string>

namespace brivane::cli {

// The agent's connection, kept across requests (watch frames, scrapes) so that each does not
// pay for a new connection and its admission. A connection that fails is dropped; when a kept
// one turns out dead (the agent restarted), the request is sent once more on a new one. Only
// the team's signed agent is believed: an answer from any other process is refused.
class AgentConnection {
public:
    struct Answer {
        ExitStatus status = answered; // answered, unreachable or noData
        // The document, or why unreachable; for noData empty, or why the document was refused.
        std::string text;
    };

    // A document past this size is refused unread. The agent's are far smaller (a snapshot of
    // 2,000 thermal zones with their limits is about half a megabyte); decoding and showing a
    // larger one would cost the CLI seconds and the exporter its memory.
    static constexpr std::size_t maximumDocumentBytes = 4 * 1024 * 1024;

    // The agent at endpoint, signed by the build's team.
    AgentConnection(std::string endpoint, int timeoutMs);
    // The agent at options.endpoint, else the team's, whose path is looked up for each new
    // connection: the runtime directory may appear later.
    explicit AgentConnection(const CliOptions& options);

    // One request; connecting and answering share the timeout, or limitMs when given.
    Answer ask(ipc::Selector selector, const std::optional<std::string>& argument,
               std::optional<int> limitMs = std::nullopt);
    int timeoutMs() const { return timeoutMs_; }

    // What the agent that answered last was made to load (loader_inspection.h), looked at once
    // per connection; nullopt before an answer or when its files could not be read.
    struct AgentLoader {
        std::int64_t pid = 0;
        platform::posix::LoaderFindings findings;
    };
    const std::optional<AgentLoader>& agentLoader() const { return loader_; }

private:
    void inspectAgent();

    // The local sockets, directly: the client needs no other back end.
    platform::posix::UnixEndpoints endpoints_;
    std::optional<std::string> endpoint_;
    std::string team_;
    int timeoutMs_;
    std::shared_ptr<const ipc::AgentCheck> check_;
    std::unique_ptr<ipc::SensorClient> client_;
    std::optional<AgentLoader> loader_;
};

// The one line a client says of an agent made to load foreign code; empty when it was not.
std::string loaderWarning(const AgentConnection::AgentLoader& loader);

} // namespace brivane::cli
