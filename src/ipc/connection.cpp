#include "ipc/connection.h"

#include <algorithm>
#include <utility>
#include <variant>

namespace brivane::ipc {
namespace {

// Per readable event, so one busy client cannot starve the others.
constexpr std::size_t readBudget = 256 * 1024;
// Buffers drained empty keep at most this much capacity; an idle connection costs little.
constexpr std::size_t keptInboundCapacity = smallInbound;
constexpr std::size_t keptOutboundCapacity = 0;

// Connections whose peer process is unknown are each a client of their own, numbered apart
// from process ids.
std::uint64_t clientOf(const platform::StreamSocket& socket) {
    static std::atomic<std::uint64_t> nextAnonymous{0};
    const auto peer = socket.peer();
    if (peer && peer->pid > 0) {
        return static_cast<std::uint64_t>(peer->pid);
    }
    return (std::uint64_t{1} << 63) | ++nextAnonymous;
}

void release(std::string& buffer, std::size_t kept) {
    if (buffer.capacity() > kept) {
        std::string().swap(buffer);
    } else {
        buffer.clear();
    }
}

} // namespace

Connection::Connection(std::unique_ptr<platform::StreamSocket> socket,
                       std::shared_ptr<ConnectionBudget> budget, std::function<void()> needsService)
    : socket_(std::move(socket)), handle_(socket_->handle()), client_(clientOf(*socket_)),
      budget_(std::move(budget)), needsService_(std::move(needsService)) {}

Connection::~Connection() {
    close();
}

Connection::Gate Connection::gateLocked(std::size_t inboundHeld) const {
    if (closed_ || closeRequested_) {
        return Gate::ownLimit;
    }
    const std::size_t pending = pendingLocked();
    if (inFlight_ >= maximumRequestsInFlight || pending > outboundAllowance) {
        return Gate::ownLimit;
    }
    if (inFlight_ == 0 && pending == 0 && inboundHeld <= smallInbound) {
        return Gate::open; // owes nothing and holds little: always gets one request through
    }
    return budget_->hasRoom() ? Gate::open : Gate::sharedLimit;
}

Connection::Gate Connection::gate() const {
    std::lock_guard lock(mutex_);
    return gateLocked(inbound_.size() - inboundStart_);
}

void Connection::countInbound() {
    const std::size_t held = inbound_.size() - inboundStart_;
    budget_->inboundBytes += held;
    budget_->inboundBytes -= inboundCounted_;
    inboundCounted_ = held;
}

Connection::ReadOutcome Connection::parse(std::string_view& pending,
                                          const std::function<void(Request)>& dispatch) {
    for (; turnLeft_ > 0; --turnLeft_) {
        {
            std::lock_guard lock(mutex_);
            if (gateLocked(pending.size()) != Gate::open) {
                return ReadOutcome::open;
            }
        }
        const auto scan = scanFrame(pending, maximumRequestBody);
        if (scan.status == FrameScan::Status::oversized) {
            return ReadOutcome::close;
        }
        if (scan.status == FrameScan::Status::incomplete) {
            return ReadOutcome::open;
        }
        auto decoded = decodeRequest(pending.substr(frameHeaderSize, scan.bodySize));
        if (std::holds_alternative<DecodeError>(decoded)) {
            return ReadOutcome::close;
        }
        pending.remove_prefix(frameHeaderSize + scan.bodySize);
        {
            std::lock_guard lock(mutex_);
            ++inFlight_;
            ++budget_->requestsInFlight;
        }
        dispatch(std::move(std::get<Request>(decoded)));
    }
    return ReadOutcome::open;
}

void Connection::startTurn(std::uint64_t round) {
    if (round != turnRound_ || !roundTurn_) {
        turnRound_ = round;
        turnLeft_ = requestsPerTurn;
        roundTurn_ = std::make_shared<std::atomic<bool>>(true);
    }
}

void Connection::comeBackLater() {
    if (turnLeft_ == 0 && hasBuffered() && markServiceFlag()) {
        needsService_();
    }
}

Connection::ReadOutcome Connection::parseBuffered(const std::function<void(Request)>& dispatch,
                                                  std::uint64_t round) {
    startTurn(round);
    const auto outcome = parseBufferedIn(dispatch);
    comeBackLater();
    return outcome;
}

Connection::ReadOutcome Connection::parseBufferedIn(const std::function<void(Request)>& dispatch) {
    std::string_view pending(inbound_.data() + inboundStart_, inbound_.size() - inboundStart_);
    const auto outcome = parse(pending, dispatch);
    inboundStart_ = inbound_.size() - pending.size();
    if (inboundStart_ == inbound_.size()) {
        release(inbound_, keptInboundCapacity);
        inboundStart_ = 0;
    } else if (inboundStart_ >= smallInbound) {
        inbound_.erase(0, inboundStart_);
        inboundStart_ = 0;
    }
    countInbound();
    return outcome;
}

Connection::ReadOutcome Connection::readRequests(const std::function<void(Request)>& dispatch,
                                                 std::span<char> scratch, std::uint64_t round) {
    startTurn(round);
    std::size_t taken = 0;
    const std::size_t chunk = std::min(scratch.size(), smallInbound);
    while (taken < readBudget && turnLeft_ > 0 && gate() == Gate::open) {
        const auto result = socket_->read(scratch.data(), chunk);
        if (result.status == platform::IoStatus::wouldBlock) {
            break;
        }
        if (result.status != platform::IoStatus::ok) {
            return ReadOutcome::close;
        }
        taken += result.bytes;
        // A short read emptied the socket: the loop reports what comes next, so no read is
        // spent on learning that nothing is left.
        const bool drained = result.bytes < chunk;
        std::string_view fresh(scratch.data(), result.bytes);
        if (hasBuffered()) {
            inbound_.append(fresh);
            if (parseBufferedIn(dispatch) == ReadOutcome::close) {
                return ReadOutcome::close;
            }
        } else {
            // The usual case: whole requests parsed straight from the scratch buffer.
            if (parse(fresh, dispatch) == ReadOutcome::close) {
                return ReadOutcome::close;
            }
            inbound_.assign(fresh);
            inboundStart_ = 0;
            countInbound();
        }
        if (drained) {
            break;
        }
    }
    comeBackLater(); // what the socket still holds, the loop reports by itself
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
        budget_->outboundBytes -= result.bytes;
    }
    if (outboundStart_ == outbound_.size()) {
        release(outbound_, keptOutboundCapacity);
        outboundStart_ = 0;
    } else if (outboundStart_ >= outboundAllowance) {
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
            return; // close() gives the request's share of the budget back
        }
        const Gate before = gateLocked(0);
        const bool hadPending = pendingLocked() > 0;
        --inFlight_;
        --budget_->requestsInFlight;
        const auto header =
            replyHeader(id, document ? std::optional<std::size_t>(document->size()) : std::nullopt);
        std::string_view head(header.data(), header.size());
        std::string_view body = document ? std::string_view(*document) : std::string_view();
        // Straight from the document when nothing waits before it: one call, no copy.
        if (!hadPending) {
            const auto result = socket_->writeParts(head, body);
            if (result.status == platform::IoStatus::ok) {
                const std::size_t fromHead = std::min(result.bytes, head.size());
                head.remove_prefix(fromHead);
                body.remove_prefix(result.bytes - fromHead);
            } else if (result.status != platform::IoStatus::wouldBlock) {
                closeRequested_ = true;
            }
        }
        if (!closeRequested_ && !(head.empty() && body.empty())) {
            outbound_.append(head);
            outbound_.append(body);
            budget_->outboundBytes += head.size() + body.size();
            if (pendingLocked() > maximumOutboundBytes) {
                closeRequested_ = true;
            }
        }
        const bool leftOver = pendingLocked() > 0;
        // The loop must flush what is left, parse again, close, or let a waiting connection
        // have the share this reply gave back.
        wakeLoop = closeRequested_ || (leftOver && !hadPending) ||
                   (before != Gate::open && gateLocked(0) == Gate::open) ||
                   budget_->waiting.load() > 0 || budget_->draining.load();
    }
    if (wakeLoop && markServiceFlag()) {
        needsService_();
    }
}

void Connection::close() {
    std::lock_guard lock(mutex_);
    if (closed_) {
        return;
    }
    budget_->inboundBytes -= inboundCounted_;
    inboundCounted_ = 0;
    std::string().swap(inbound_);
    inboundStart_ = 0;
    closed_ = true;
    budget_->requestsInFlight -= inFlight_;
    budget_->outboundBytes -= pendingLocked();
    inFlight_ = 0;
    socket_.reset();
    std::string().swap(outbound_);
    outboundStart_ = 0;
}

bool Connection::wantsWrite() const {
    std::lock_guard lock(mutex_);
    return !closed_ && pendingLocked() > 0;
}

bool Connection::isSettled() const {
    std::lock_guard lock(mutex_);
    return inFlight_ == 0 && pendingLocked() == 0;
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

class PendingReply final : public ServiceReply::Destination {
public:
    PendingReply(std::weak_ptr<Connection> connection, std::uint32_t id, std::uint64_t client,
                 std::shared_ptr<std::atomic<bool>> turn)
        : connection_(std::move(connection)), id_(id), client_(client), turn_(std::move(turn)) {}
    ~PendingReply() override { send(std::nullopt); }

    void send(std::optional<std::string> document) override {
        if (answered_.exchange(true)) {
            return; // a second answer would break the one-reply-per-request rule
        }
        if (auto live = connection_.lock()) {
            live->deliver(id_, std::move(document));
        }
    }
    bool isWanted() const override {
        const auto live = connection_.lock();
        return live && !live->isClosed() && !live->closeRequested();
    }
    std::uint64_t client() const override { return client_; }
    bool mayRunHere() override { return !turn_ || turn_->exchange(false); }

private:
    std::weak_ptr<Connection> connection_;
    std::uint32_t id_;
    std::uint64_t client_;
    std::shared_ptr<std::atomic<bool>> turn_;
    std::atomic<bool> answered_{false};
};

} // namespace

ServiceReply makeReply(std::weak_ptr<Connection> connection, std::uint32_t id,
                       std::shared_ptr<std::atomic<bool>> turn) {
    const auto live = connection.lock();
    const std::uint64_t client = live ? live->client() : 0;
    return ServiceReply(
        std::make_shared<PendingReply>(std::move(connection), id, client, std::move(turn)));
}

} // namespace brivane::ipc
