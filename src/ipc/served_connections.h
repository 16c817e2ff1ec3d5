#pragma once

#include "ipc/connection.h"
#include "ipc/loop_core.h"
#include "ipc/sensor_service_protocol.h"

#include <atomic>
#include <cstddef>
#include <deque>
#include <functional>
#include <memory>
#include <unordered_map>
#include <vector>

namespace brivane::ipc {

// The admitted connections of one listener: reads and frames their requests, hands them to
// the delegate, writes replies back, and keeps every connection within its own and the shared
// budgets. Loop thread only, except connectionCount().
class ServedConnections {
public:
    // stopped: called once every connection is closed after draining began.
    ServedConnections(std::shared_ptr<LoopCore> core, std::function<void()> stopped);
    ~ServedConnections();
    ServedConnections(const ServedConnections&) = delete;
    ServedConnections& operator=(const ServedConnections&) = delete;

    void setDelegate(std::shared_ptr<BrivaneSensorSnapshotXPC> delegate) {
        delegate_ = std::move(delegate);
    }
    // Called on the loop thread as each request is handed to the delegate.
    void setRequestObserver(std::function<void()> observer) {
        requestObserver_ = std::move(observer);
    }

    void adopt(std::unique_ptr<platform::StreamSocket> stream);
    // The connections whose replies asked the loop for service.
    void serviceConnections();
    std::size_t size() const { return connections_.size(); }
    std::size_t connectionCount() const { return connectionCount_.load(); }

    // No further request is read; replies still go out. stopped() follows once every
    // connection is settled (with untilPeersLeave, once every peer has hung up), or at once
    // from closeAll().
    void beginDraining(bool untilPeersLeave = false);
    void invalidateDelegate() {
        if (delegate_) {
            delegate_->invalidate();
        }
    }
    void closeAll();

private:
    void onEvents(const std::weak_ptr<Connection>& weak, unsigned events);
    bool parseHeldBack(const std::shared_ptr<Connection>& connection);
    void serveWaiters();
    bool leaveWaiters(Connection& connection);
    void afterWork();
    void settle(const std::shared_ptr<Connection>& connection);
    void closeConnection(Connection& connection);
    void closeAllIfSettled();
    std::function<void(Request)> dispatcherFor(const std::shared_ptr<Connection>& connection);
    void dispatch(const std::weak_ptr<Connection>& connection, Request request);

    std::shared_ptr<LoopCore> core_;
    std::function<void()> stopped_;
    std::shared_ptr<BrivaneSensorSnapshotXPC> delegate_;
    std::function<void()> requestObserver_;
    std::shared_ptr<ConnectionBudget> budget_ = std::make_shared<ConnectionBudget>();
    std::unordered_map<int, std::shared_ptr<Connection>> connections_;
    std::deque<std::weak_ptr<Connection>> waiters_;
    std::vector<char> scratch_;
    std::atomic<std::size_t> connectionCount_{0};
    bool draining_ = false;
    bool untilPeersLeave_ = false;
};

} // namespace brivane::ipc
