#include "ipc/connection.h"

#include <utility>
#include <variant>

namespace brivane::ipc {
namespace {

constexpr std::size_t readChunk = 64 * 1024;
// Per readable event, so one busy client cannot starve the others.
constexpr std::size_t readBudget = 4 * readChunk;

} // namespace

Connection::Connection(std::unique_ptr<platform::StreamSocket> socket,
                       std::function<void()> needsService)
    : socket_(std::move(socket)), handle_(socket_->handle()),
      needsService_(std::move(needsService)) {}

bool Connection::saturatedLocked() const {
    return inFlight_ >= maximumRequestsInFlight ||
           outbound_.size() - outboundStart_ > outboundHighWater;
}

Connection::ReadOutcome Connection::readRequests(const std::function<void(Request)>& dispatch) {
    std::size_t taken = 0;
    while (taken < readBudget) {
        {
            std::lock_guard lock(mutex_);
            if (closed_ || saturatedLocked()) {
                break;
            }
        }
        const std::size_t used = inbound_.size();
        inbound_.resize(used + readChunk);
        const auto result = socket_->read(inbound_.data() + used, readChunk);
        inbound_.resize(used + result.bytes);
        if (result.status == platform::IoStatus::wouldBlock) {
            break;
        }
        if (result.status != platform::IoStatus::ok) {
            return ReadOutcome::close;
        }
        taken += result.bytes;
        if (parseBuffered(dispatch) == ReadOutcome::close) {
            return ReadOutcome::close;
        }
    }
    return ReadOutcome::open;
}

Connection::ReadOutcome Connection::parseBuffered(const std::function<void(Request)>& dispatch) {
    for (;;) {
        {
            std::lock_guard lock(mutex_);
            if (closed_ || saturatedLocked()) {
                break;
            }
        }
        const std::string_view pending(inbound_.data() + inboundStart_,
                                       inbound_.size() - inboundStart_);
        const auto scan = scanFrame(pending, maximumRequestBody);
        if (scan.status == FrameScan::Status::oversized) {
            return ReadOutcome::close;
        }
        if (scan.status == FrameScan::Status::incomplete) {
            break;
        }
        auto decoded = decodeRequest(pending.substr(frameHeaderSize, scan.bodySize));
        if (std::holds_alternative<DecodeError>(decoded)) {
            return ReadOutcome::close;
        }
        inboundStart_ += frameHeaderSize + scan.bodySize;
        {
            std::lock_guard lock(mutex_);
            ++inFlight_;
        }
        dispatch(std::move(std::get<Request>(decoded)));
    }
    if (inboundStart_ == inbound_.size()) {
        inbound_.clear();
        inboundStart_ = 0;
    } else if (inboundStart_ >= readChunk) {
        inbound_.erase(0, inboundStart_);
        inboundStart_ = 0;
    }
    return ReadOutcome::open;
}

bool Connection::writePendingLocked() {
    while (outboundStart_ < outbound_.size()) {
        const auto result =
            socket_->write(outbound_.data() + outboundStart_, outbound_.size() - outboundStart_);
        if (result.status == platform::IoStatus::wouldBlock) {
            break;
        }
        if (result.status != platform::IoStatus::ok) {
            return false;
        }
        outboundStart_ += result.bytes;
    }
    if (outboundStart_ == outbound_.size()) {
        outbound_.clear();
        outboundStart_ = 0;
    } else if (outboundStart_ >= outboundHighWater) {
        outbound_.erase(0, outboundStart_);
        outboundStart_ = 0;
    }
    return true;
}

bool Connection::flush() {
    std::lock_guard lock(mutex_);
    if (closed_) {
        return false;
    }
    if (!writePendingLocked()) {
        closeRequested_ = true;
        return false;
    }
    return true;
}

void Connection::deliver(std::uint32_t id, std::optional<std::string> document) {
    bool wakeLoop = false;
    {
        std::lock_guard lock(mutex_);
        if (closed_ || closeRequested_) {
            return;
        }
        const bool wasSaturated = saturatedLocked();
        const bool hadPending = outboundStart_ < outbound_.size();
        --inFlight_;
        const auto header =
            replyHeader(id, document ? std::optional<std::size_t>(document->size()) : std::nullopt);
        outbound_.append(header.data(), header.size());
        if (document) {
            outbound_.append(*document);
        }
        if (!hadPending && !writePendingLocked()) {
            closeRequested_ = true;
        } else if (outbound_.size() - outboundStart_ > maximumOutboundBytes) {
            closeRequested_ = true;
        }
        const bool leftOver = outboundStart_ < outbound_.size();
        wakeLoop =
            closeRequested_ || (leftOver && !hadPending) || (wasSaturated && !saturatedLocked());
    }
    if (wakeLoop && markServiceFlag()) {
        needsService_();
    }
}

void Connection::close() {
    std::lock_guard lock(mutex_);
    closed_ = true;
    socket_.reset();
    outbound_.clear();
    outbound_.shrink_to_fit();
}

bool Connection::wantsRead() const {
    std::lock_guard lock(mutex_);
    return !closed_ && !saturatedLocked();
}

bool Connection::wantsWrite() const {
    std::lock_guard lock(mutex_);
    return !closed_ && outboundStart_ < outbound_.size();
}

bool Connection::closeRequested() const {
    std::lock_guard lock(mutex_);
    return closeRequested_;
}

bool Connection::isClosed() const {
    std::lock_guard lock(mutex_);
    return closed_;
}

namespace {

struct PendingReply {
    std::weak_ptr<Connection> connection;
    std::uint32_t id;
    std::atomic<bool> answered{false};

    PendingReply(std::weak_ptr<Connection> c, std::uint32_t i) : connection(std::move(c)), id(i) {}

    void answer(std::optional<std::string> document) {
        if (answered.exchange(true)) {
            return; // a second answer would break the one-reply-per-request rule
        }
        if (auto live = connection.lock()) {
            live->deliver(id, std::move(document));
        }
    }

    ~PendingReply() { answer(std::nullopt); }
};

} // namespace

std::function<void(std::optional<std::string>)> makeReply(std::weak_ptr<Connection> connection,
                                                          std::uint32_t id) {
    auto pending = std::make_shared<PendingReply>(std::move(connection), id);
    return [pending](std::optional<std::string> document) { pending->answer(std::move(document)); };
}

} // namespace brivane::ipc
