#include "ipc/served_connections.h"

#include <utility>

namespace brivane::ipc {
namespace {

constexpr std::size_t scratchSize = 64 * 1024;

} // namespace

ServedConnections::ServedConnections(std::shared_ptr<LoopCore> core, std::function<void()> stopped)
    : core_(std::move(core)), stopped_(std::move(stopped)), scratch_(scratchSize) {}

ServedConnections::~ServedConnections() {
    for (auto& [handle, connection] : connections_) {
        core_->loop->unwatch(handle);
        connection->close();
    }
}

void ServedConnections::adopt(std::unique_ptr<platform::StreamSocket> stream) {
    auto holder = std::make_shared<std::weak_ptr<Connection>>();
    std::weak_ptr<LoopCore> weakCore = core_;
    auto connection = std::make_shared<Connection>(std::move(stream), budget_, [holder, weakCore] {
        if (auto core = weakCore.lock()) {
            core->requestService(*holder);
        }
    });
    *holder = connection;
    const int handle = connection->handle();
    std::weak_ptr<Connection> weak = connection;
    if (!core_->loop->watch(handle, platform::EventLoop::readable,
                            [this, weak](unsigned events) { onEvents(weak, events); })) {
        connection->close();
        return;
    }
    connections_.emplace(handle, std::move(connection));
    connectionCount_.store(connections_.size());
}

void ServedConnections::onEvents(const std::weak_ptr<Connection>& weak, unsigned events) {
    const auto connection = weak.lock();
    if (!connection || connection->isClosed()) {
        return;
    }
    if ((events & platform::EventLoop::writable) && !connection->flush()) {
        closeConnection(*connection);
        return;
    }
    if (!draining_) {
        // A flush may have brought the connection back under its allowance.
        if (!parseHeldBack(connection)) {
            return;
        }
        if ((events & (platform::EventLoop::readable | platform::EventLoop::hangUp)) &&
            connection->gate() == Connection::Gate::open &&
            connection->readRequests(dispatcherFor(connection), scratch_, core_->loop->round()) ==
                Connection::ReadOutcome::close) {
            closeConnection(*connection);
            return;
        }
    }
    // A peer that hung up while we were not reading from it is gone for good.
    if ((events & platform::EventLoop::hangUp) &&
        (draining_ || connection->gate() != Connection::Gate::open)) {
        closeConnection(*connection);
        if (draining_) {
            closeAllIfSettled();
        }
        return;
    }
    settle(connection);
    afterWork();
}

void ServedConnections::serviceConnections() {
    for (const auto& weak : core_->takeRequests()) {
        const auto connection = weak.lock();
        if (!connection) {
            continue;
        }
        connection->takeServiceFlag();
        if (connection->isClosed()) {
            continue;
        }
        if (connection->closeRequested() || !connection->flush()) {
            closeConnection(*connection);
            continue;
        }
        if (!draining_ && !parseHeldBack(connection)) {
            continue;
        }
        settle(connection);
    }
    afterWork();
}

// Requests read earlier but held back by the gate are parsed again, or they would wait for
// the client's next byte. False when the connection was closed.
bool ServedConnections::parseHeldBack(const std::shared_ptr<Connection>& connection) {
    if (connection->hasBuffered() &&
        connection->parseBuffered(dispatcherFor(connection), core_->loop->round()) ==
            Connection::ReadOutcome::close) {
        closeConnection(*connection);
        return false;
    }
    return true;
}

// Connections held back by the shared budget get their turn, oldest first, while it has room;
// one that is held back again goes to the end of the line.
void ServedConnections::serveWaiters() {
    // Each waiter gets at most one turn per call: replies on other threads change the budget
    // meanwhile.
    for (std::size_t turns = waiters_.size(); turns > 0 && budget_->hasRoom(); --turns) {
        const auto connection = waiters_.front().lock();
        waiters_.pop_front();
        // A closed connection has already left the line.
        if (connection && leaveWaiters(*connection) && parseHeldBack(connection)) {
            settle(connection);
        }
    }
}

// Takes the connection out of the line for the shared budget; false when it was not in it.
// Its entry in waiters_ is skipped when its turn comes.
bool ServedConnections::leaveWaiters(Connection& connection) {
    if (!connection.waitingForBudget) {
        return false;
    }
    connection.waitingForBudget = false;
    --budget_->waiting;
    return true;
}

void ServedConnections::afterWork() {
    if (draining_) {
        closeAllIfSettled();
    } else {
        serveWaiters();
    }
}

// Watches for exactly what the connection can use now, or closes it if a reply asked to.
void ServedConnections::settle(const std::shared_ptr<Connection>& connection) {
    if (connection->closeRequested()) {
        closeConnection(*connection);
        return;
    }
    unsigned interest = 0;
    if (!draining_) {
        const auto gate = connection->gate();
        if (gate == Connection::Gate::open) {
            interest |= platform::EventLoop::readable;
        } else if (gate == Connection::Gate::sharedLimit && !connection->waitingForBudget) {
            connection->waitingForBudget = true;
            ++budget_->waiting;
            waiters_.push_back(connection);
        }
    }
    if (connection->wantsWrite()) {
        interest |= platform::EventLoop::writable;
    }
    core_->loop->change(connection->handle(), interest);
}

void ServedConnections::closeConnection(Connection& connection) {
    const int handle = connection.handle();
    core_->loop->unwatch(handle);
    connection.close();
    leaveWaiters(connection);
    connections_.erase(handle);
    connectionCount_.store(connections_.size());
}

void ServedConnections::beginDraining(bool untilPeersLeave) {
    if (draining_) {
        return;
    }
    draining_ = true;
    untilPeersLeave_ = untilPeersLeave;
    budget_->draining = true;
    std::vector<std::shared_ptr<Connection>> open;
    for (const auto& entry : connections_) {
        open.push_back(entry.second);
    }
    for (const auto& connection : open) {
        settle(connection);
    }
    closeAllIfSettled();
}

void ServedConnections::closeAllIfSettled() {
    if (untilPeersLeave_ && !connections_.empty()) {
        return;
    }
    for (const auto& entry : connections_) {
        if (!entry.second->isSettled()) {
            return;
        }
    }
    closeAll();
}

void ServedConnections::closeAll() {
    while (!connections_.empty()) {
        closeConnection(*connections_.begin()->second);
    }
    stopped_();
}

std::function<void(Request)>
ServedConnections::dispatcherFor(const std::shared_ptr<Connection>& connection) {
    std::weak_ptr<Connection> weak = connection;
    return [this, weak](Request request) { dispatch(weak, std::move(request)); };
}

void ServedConnections::dispatch(const std::weak_ptr<Connection>& connection, Request request) {
    if (requestObserver_) {
        requestObserver_();
    }
    const auto live = connection.lock();
    auto reply = makeReply(connection, request.id, live ? live->roundTurn() : nullptr);
    if (!delegate_) {
        reply(std::nullopt);
        return;
    }
    switch (request.selector) {
    case Selector::snapshot:
        delegate_->snapshotWithReply(std::move(reply));
        break;
    case Selector::cpuDetails:
        delegate_->cpuDetailsWithReply(std::move(reply));
        break;
    case Selector::processDetails:
        delegate_->processDetails(std::move(*request.argument), std::move(reply));
        break;
    case Selector::storageHealth:
        delegate_->storageHealth(std::move(*request.argument), std::move(reply));
        break;
    case Selector::manage:
        delegate_->manage(std::move(*request.argument), std::move(reply));
        break;
    }
}

} // namespace brivane::ipc
