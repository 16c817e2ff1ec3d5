#include "ipc/listener.h"

#include "ipc/connection.h"
#include "platform/event_loop.h"
#include "platform/main_queue.h"

#include <atomic>
#include <mutex>
#include <unordered_map>
#include <utility>
#include <vector>

namespace brivane {

using ipc::Connection;

namespace {

// What reply threads share with the loop: the loop's wake-up and the connections to look at.
struct LoopCore {
    std::unique_ptr<platform::EventLoop> loop = platform::makeDefaultEventLoop();
    std::mutex mutex;
    std::vector<std::weak_ptr<Connection>> needingService;

    void requestService(std::weak_ptr<Connection> connection) {
        {
            std::lock_guard lock(mutex);
            needingService.push_back(std::move(connection));
        }
        loop->wake();
    }

    std::vector<std::weak_ptr<Connection>> takeRequests() {
        std::lock_guard lock(mutex);
        return std::exchange(needingService, {});
    }
};

// A service name becomes a file name: it must not climb out of the runtime directory.
bool isPlainFileName(std::string_view name) {
    return !name.empty() && name != "." && name != ".." &&
           name.find('/') == std::string_view::npos && name.find('\0') == std::string_view::npos;
}

} // namespace

class Listener::Impl {
public:
    Impl(std::shared_ptr<platform::Endpoints> endpoints,
         std::unique_ptr<platform::ListeningSocket> socket, std::string path)
        : endpoints_(std::move(endpoints)), socket_(std::move(socket)), path_(std::move(path)),
          agentUid_(endpoints_->currentUserId()) {
        core_->loop->setWakeHandler([this] {
            serviceConnections();
            platform::mainQueue().drain();
        });
    }

    ~Impl() {
        core_->loop->setWakeHandler(nullptr);
        for (auto& [handle, connection] : connections_) {
            core_->loop->unwatch(handle);
            connection->close();
        }
        if (resumed_) {
            core_->loop->unwatch(socket_->handle());
        }
    }

    void setDelegate(std::shared_ptr<BrivaneSensorSnapshotXPC> delegate) {
        delegate_ = std::move(delegate);
    }
    void setAdmission(Admission admission) { admission_ = std::move(admission); }

    void resume() {
        if (resumed_) {
            return;
        }
        resumed_ = core_->loop->watch(socket_->handle(), platform::EventLoop::readable,
                                      [this](unsigned) { acceptPending(); });
    }

    void run() {
        std::weak_ptr<LoopCore> weakCore = core_;
        platform::mainQueue().setWakeUp([weakCore] {
            if (auto core = weakCore.lock()) {
                core->loop->wake();
            }
        });
        platform::mainQueue().drain(); // work posted before the loop started
        core_->loop->run();
        platform::mainQueue().setWakeUp(nullptr);
    }

    void stop() { core_->loop->stop(); }

    const std::string& path() const { return path_; }
    std::size_t connectionCount() const { return connectionCount_.load(); }

private:
    void acceptPending() {
        while (auto stream = socket_->accept()) {
            const auto peer = stream->peer();
            // Refused peers are dropped here: closed without a byte, nothing read.
            if (!peer || peer->uid != agentUid_) {
                continue;
            }
            if (admission_ && !admission_(*peer)) {
                continue;
            }
            adopt(std::move(stream));
        }
    }

    void adopt(std::unique_ptr<platform::StreamSocket> stream) {
        auto holder = std::make_shared<std::weak_ptr<Connection>>();
        std::weak_ptr<LoopCore> weakCore = core_;
        auto connection = std::make_shared<Connection>(std::move(stream), [holder, weakCore] {
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

    void onEvents(const std::weak_ptr<Connection>& weak, unsigned events) {
        const auto connection = weak.lock();
        if (!connection || connection->isClosed()) {
            return;
        }
        if (events & platform::EventLoop::writable) {
            connection->flush();
        }
        if (events & (platform::EventLoop::readable | platform::EventLoop::hangUp)) {
            if (connection->readRequests(dispatcherFor(connection)) ==
                Connection::ReadOutcome::close) {
                closeConnection(*connection);
                return;
            }
        }
        // A peer that hung up while we were not reading from it is gone for good.
        if ((events & platform::EventLoop::hangUp) && !connection->wantsRead()) {
            closeConnection(*connection);
            return;
        }
        settle(*connection);
    }

    void serviceConnections() {
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
            if (connection->parseBuffered(dispatcherFor(connection)) ==
                Connection::ReadOutcome::close) {
                closeConnection(*connection);
                continue;
            }
            settle(*connection);
        }
    }

    // Watches for exactly what the connection can use now, or closes it if a reply asked to.
    void settle(Connection& connection) {
        if (connection.closeRequested()) {
            closeConnection(connection);
            return;
        }
        unsigned interest = 0;
        if (connection.wantsRead()) {
            interest |= platform::EventLoop::readable;
        }
        if (connection.wantsWrite()) {
            interest |= platform::EventLoop::writable;
        }
        core_->loop->change(connection.handle(), interest);
    }

    void closeConnection(Connection& connection) {
        const int handle = connection.handle();
        core_->loop->unwatch(handle);
        connection.close();
        connections_.erase(handle);
        connectionCount_.store(connections_.size());
    }

    std::function<void(ipc::Request)> dispatcherFor(const std::shared_ptr<Connection>& connection) {
        std::weak_ptr<Connection> weak = connection;
        return [this, weak](ipc::Request request) { dispatch(weak, std::move(request)); };
    }

    void dispatch(const std::weak_ptr<Connection>& connection, ipc::Request request) {
        auto reply = ipc::makeReply(connection, request.id);
        if (!delegate_) {
            reply(std::nullopt);
            return;
        }
        switch (request.selector) {
        case ipc::Selector::snapshot:
            delegate_->snapshotWithReply(std::move(reply));
            break;
        case ipc::Selector::cpuDetails:
            delegate_->cpuDetailsWithReply(std::move(reply));
            break;
        case ipc::Selector::processDetails:
            delegate_->processDetails(std::move(*request.argument), std::move(reply));
            break;
        case ipc::Selector::storageHealth:
            delegate_->storageHealth(std::move(*request.argument), std::move(reply));
            break;
        case ipc::Selector::manage:
            delegate_->manage(std::move(*request.argument), std::move(reply));
            break;
        }
    }

    std::shared_ptr<platform::Endpoints> endpoints_;
    std::unique_ptr<platform::ListeningSocket> socket_;
    std::string path_;
    std::uint32_t agentUid_;
    std::shared_ptr<LoopCore> core_ = std::make_shared<LoopCore>();
    std::shared_ptr<BrivaneSensorSnapshotXPC> delegate_;
    Admission admission_;
    std::unordered_map<int, std::shared_ptr<Connection>> connections_;
    std::atomic<std::size_t> connectionCount_{0};
    bool resumed_ = false;
};

class ListenerFactory {
public:
    static ListenerCreation make(std::shared_ptr<platform::Endpoints> endpoints,
                                 platform::EndpointOpening opening, std::string path) {
        if (!opening.socket) {
            ListenerCreation failed;
            failed.message = std::move(opening.message);
            switch (opening.error.value_or(platform::EndpointError::systemError)) {
            case platform::EndpointError::alreadyServing:
                failed.failure = ListenerFailure::alreadyServing;
                break;
            case platform::EndpointError::unsafeDirectory:
                failed.failure = ListenerFailure::unsafeRuntimeDirectory;
                break;
            case platform::EndpointError::systemError:
                failed.failure = ListenerFailure::systemError;
                break;
            }
            return failed;
        }
        auto impl = std::make_unique<Listener::Impl>(std::move(endpoints),
                                                     std::move(opening.socket), std::move(path));
        return {std::unique_ptr<Listener>(new Listener(std::move(impl))), std::nullopt, {}};
    }
};

ListenerCreation Listener::create(std::string_view serviceName) {
    auto endpoints = platform::makeDefaultEndpoints();
    auto inherited = endpoints->inherited();
    if (inherited.socket || inherited.error) {
        return ListenerFactory::make(std::move(endpoints), std::move(inherited), {});
    }
    if (!isPlainFileName(serviceName)) {
        return {nullptr, ListenerFailure::systemError,
                "the service name cannot be a file name: " + std::string(serviceName)};
    }
    const auto directory = endpoints->runtimeDirectory();
    if (!directory.path) {
        return {nullptr, ListenerFailure::unsafeRuntimeDirectory, directory.problem};
    }
    std::string path = *directory.path + "/" + std::string(serviceName);
    auto opening = endpoints->listenAt(path);
    return ListenerFactory::make(std::move(endpoints), std::move(opening), std::move(path));
}

ListenerCreation Listener::atPath(std::string path) {
    auto endpoints = platform::makeDefaultEndpoints();
    auto opening = endpoints->listenAt(path);
    return ListenerFactory::make(std::move(endpoints), std::move(opening), std::move(path));
}

Listener::Listener(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
Listener::~Listener() = default;

void Listener::setDelegate(std::shared_ptr<BrivaneSensorSnapshotXPC> delegate) {
    impl_->setDelegate(std::move(delegate));
}
void Listener::setAdmission(Admission admission) {
    impl_->setAdmission(std::move(admission));
}
void Listener::resume() {
    impl_->resume();
}
void Listener::run() {
    impl_->run();
}
void Listener::stop() {
    impl_->stop();
}
const std::string& Listener::endpointPath() const {
    return impl_->path();
}
std::size_t Listener::connectionCount() const {
    return impl_->connectionCount();
}

} // namespace brivane
