#include "ipc/sensor_client.h"

#include <algorithm>
#include <utility>

namespace brivane::ipc {
namespace {

int remainingMs(std::chrono::steady_clock::time_point deadline) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    return static_cast<int>(std::max<std::chrono::milliseconds::rep>(left.count(), 0));
}

} // namespace

std::unique_ptr<SensorClient> SensorClient::connect(platform::Endpoints& endpoints,
                                                    const std::string& path, std::string& problem,
                                                    int timeoutMs) {
    auto socket = endpoints.connect(path, problem, timeoutMs);
    if (!socket) {
        return nullptr;
    }
    return std::make_unique<SensorClient>(std::move(socket));
}

SensorClient::SensorClient(std::unique_ptr<platform::StreamSocket> socket)
    : socket_(std::move(socket)) {}

std::optional<std::uint32_t>
SensorClient::send(Selector selector, std::optional<std::string_view> argument, int timeoutMs) {
    if (!socket_) {
        return std::nullopt;
    }
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    const std::uint32_t id = nextId_++;
    outbound_.clear();
    appendRequestFrame(outbound_, id, selector, argument);
    std::size_t sent = 0;
    while (sent < outbound_.size()) {
        const auto result = socket_->write(outbound_.data() + sent, outbound_.size() - sent);
        if (result.status == platform::IoStatus::ok) {
            sent += result.bytes;
            continue;
        }
        if (result.status != platform::IoStatus::wouldBlock ||
            !socket_->waitWritable(remainingMs(deadline))) {
            socket_.reset(); // a half-sent frame leaves the stream unusable
            return std::nullopt;
        }
    }
    return id;
}

SensorClient::Outcome SensorClient::readOne(Clock::time_point deadline) {
    for (;;) {
        const auto scan = scanFrame(inbound_, maximumBody_);
        if (scan.status == FrameScan::Status::oversized) {
            socket_.reset();
            inbound_.clear();
            return {Status::oversized, {}, scan.bodySize};
        }
        if (scan.status == FrameScan::Status::complete) {
            auto reply =
                decodeReply(std::string_view(inbound_).substr(frameHeaderSize, scan.bodySize));
            inbound_.erase(0, frameHeaderSize + scan.bodySize);
            if (!reply) {
                socket_.reset();
                return {};
            }
            return {Status::replied, std::move(*reply)};
        }
        if (!socket_) {
            return {};
        }
        constexpr std::size_t chunkSize = 64 * 1024;
        if (!chunk_) {
            chunk_ = std::make_unique_for_overwrite<char[]>(chunkSize);
        }
        const auto result = socket_->read(chunk_.get(), chunkSize);
        if (result.status == platform::IoStatus::ok) {
            if (!senderAdmitted()) {
                socket_.reset();
                inbound_.clear();
                return {Status::refused, {}};
            }
            inbound_.append(chunk_.get(), result.bytes);
            continue;
        }
        if (result.status != platform::IoStatus::wouldBlock) {
            socket_.reset();
            return {};
        }
        if (!socket_->waitReadable(remainingMs(deadline))) {
            return {Status::timedOut, {}};
        }
    }
}

// Who the agent is comes from the connection: the process that listened, as the kernel
// recorded it when this client connected. Each read must then have been written by that very
// process, not by another holder of the listening socket.
bool SensorClient::senderAdmitted() {
    if (!check_) {
        return true;
    }
    if (admittedPeer_ == 0) {
        const auto peer = socket_->peer();
        if (!peer) {
            refusal_ = {"the system did not name the process that answered"};
            return false;
        }
        if (auto why = check_->refusal(*peer)) {
            refusal_ = std::move(*why);
            return false;
        }
        admittedPeer_ = peer->pid;
    }
    const auto writer = socket_->sender();
    if (!writer || writer->pid != admittedPeer_) {
        refusal_ = {"its answer was written by another process than the one that listens"};
        return false;
    }
    return true;
}

SensorClient::Outcome SensorClient::receive(int timeoutMs) {
    if (!kept_.empty()) {
        auto node = kept_.extract(kept_.begin());
        return {Status::replied, std::move(node.mapped())};
    }
    return readOne(Clock::now() + std::chrono::milliseconds(timeoutMs));
}

SensorClient::Outcome SensorClient::await(std::uint32_t id, int timeoutMs) {
    if (auto found = kept_.find(id); found != kept_.end()) {
        auto node = kept_.extract(found);
        return {Status::replied, std::move(node.mapped())};
    }
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        auto outcome = readOne(deadline);
        if (outcome.status != Status::replied || outcome.reply.id == id) {
            return outcome;
        }
        kept_.emplace(outcome.reply.id, std::move(outcome.reply));
    }
}

SensorClient::Outcome SensorClient::call(Selector selector,
                                         std::optional<std::string_view> argument, int timeoutMs) {
    const auto id = send(selector, argument, timeoutMs);
    if (!id) {
        return {};
    }
    return await(*id, timeoutMs);
}

std::optional<std::string> endpointPathForService(platform::Endpoints& endpoints,
                                                  std::string_view serviceName,
                                                  std::string& problem) {
    const auto directory = endpoints.runtimeDirectory();
    if (!directory.path) {
        problem = directory.problem;
        return std::nullopt;
    }
    return *directory.path + "/" + std::string(serviceName);
}

} // namespace brivane::ipc
