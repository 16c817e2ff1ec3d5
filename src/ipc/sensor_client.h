#pragma once

#include "ipc/agent_check.h"
#include "ipc/frame_codec.h"
#include "platform/endpoint.h"

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>

namespace brivane::ipc {

// A blocking client of the agent's endpoint. Requests may be pipelined: send several, then
// await each id; replies that arrive for other ids are kept until asked for.
class SensorClient {
public:
    // refused: the process that answered is not one the check admits (see refusal()).
    // oversized: the reply announced a body past the client's maximum; it was not read, and
    // the connection is closed.
    enum class Status { replied, timedOut, disconnected, refused, oversized };

    struct Outcome {
        Status status = Status::disconnected;
        Reply reply;
        std::size_t announcedBytes = 0; // oversized: the body size the reply announced
    };

    // Gives up after timeoutMs when the agent does not take the connection (a stopped agent
    // with a full backlog). Through the platform's default endpoints, or the given ones (which
    // spares a client linking every default back end).
    static std::unique_ptr<SensorClient> connect(const std::string& path, std::string& problem,
                                                 int timeoutMs = 5000);
    static std::unique_ptr<SensorClient> connect(platform::Endpoints& endpoints,
                                                 const std::string& path, std::string& problem,
                                                 int timeoutMs);
    explicit SensorClient(std::unique_ptr<platform::StreamSocket> socket);

    // Sends one request and returns its id; nullopt when the connection is gone or the send
    // did not complete within timeoutMs.
    std::optional<std::uint32_t> send(Selector selector, std::optional<std::string_view> argument,
                                      int timeoutMs = 5000);

    // The next reply in arrival order (kept replies first).
    Outcome receive(int timeoutMs);

    // The reply to id; replies to other ids that arrive meanwhile are kept.
    Outcome await(std::uint32_t id, int timeoutMs);

    // send + await.
    Outcome call(Selector selector, std::optional<std::string_view> argument, int timeoutMs);

    bool isOpen() const { return socket_ != nullptr; }

    // Replies whose body would pass this many bytes are refused before they are read
    // (maximumReplyBody unless set lower).
    void limitReplies(std::size_t maximumBody) {
        maximumBody_ = std::min(maximumBody, maximumReplyBody);
    }

    // From now on every byte read must come from the connection's peer, and the peer must be a
    // process the check admits; otherwise the connection is dropped unread and the call
    // reports refused.
    void requireSender(std::shared_ptr<const AgentCheck> check) { check_ = std::move(check); }
    // Why the last refusal happened.
    const AgentCheck::Refusal& refusal() const { return refusal_; }
    // The process the check admitted, once a reply came; 0 before, or without a check.
    std::int64_t admittedPeer() const { return admittedPeer_; }

private:
    using Clock = std::chrono::steady_clock;

    Outcome readOne(Clock::time_point deadline);
    bool senderAdmitted();

    std::unique_ptr<platform::StreamSocket> socket_;
    // On the heap: clients run on threads with small stacks (the exporter's HTTP workers).
    std::unique_ptr<char[]> chunk_;
    std::uint32_t nextId_ = 1;
    std::size_t maximumBody_ = maximumReplyBody;
    std::string inbound_;
    std::string outbound_;
    std::unordered_map<std::uint32_t, Reply> kept_;
    std::shared_ptr<const AgentCheck> check_;
    std::int64_t admittedPeer_ = 0; // the connection's peer, once checked
    AgentCheck::Refusal refusal_;
};

// <runtime directory>/<service name>, or nullopt with problem.
std::optional<std::string> endpointPathForService(std::string_view serviceName,
                                                  std::string& problem);
std::optional<std::string> endpointPathForService(platform::Endpoints& endpoints,
                                                  std::string_view serviceName,
                                                  std::string& problem);

} // namespace brivane::ipc
