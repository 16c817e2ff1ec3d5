#include "ipc/listener.h"

#include "ipc/admission_workers.h"
#include "ipc/connection.h"
#include "platform/event_loop.h"
#include "platform/main_queue.h"

#include <atomic>
#include <deque>
#include <mutex>
#include <unordered_map>
#include <utility>
#include <vector>

namespace brivane {

using ipc::Connection;

namespace {

using Clock = std::chrono::steady_clock;

constexpr std::size_t admissionThreads = 2;
constexpr std::size_t scratchSize = 64 * 1024;

// A connection back from its admission check.
struct Verdict {
    std::unique_ptr<platform::StreamSocket> stream;
    bool admitted = false;
};

// What other threads share with the loop: its wake-up, the connections to look at and the
// admission verdicts.
struct LoopCore {
    std::unique_ptr<platform::EventLoop> loop = platform::makeDefaultEventLoop();
    std::mutex mutex;
    std::vector<std::weak_ptr<Connection>> needingService;
    std::vector<Verdict> verdicts;

    void requestService(std::weak_ptr<Connection> connection) {
        {
            std::lock_guard lock(mutex);
            needingService.push_back(std::move(connection));
        }
        loop->wake();
    }

    void postVerdict(Verdict verdict) {
        {
            std::lock_guard lock(mutex);
            verdicts.push_back(std::move(verdict));
        }
        loop->wake();
    }

    std::vector<std::weak_ptr<Connection>> takeRequests() {
        std::lock_guard lock(mutex);
        return std::exchange(needingService, {});
    }

    std::vector<Verdict> takeVerdicts() {
        std::lock_guard lock(mutex);
        return std::exchange(verdicts, {});
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
            takeVerdicts();
            serviceConnections();
            platform::mainQueue().drain();
        });
    }

    ~Impl() {
        workers_.reset(); // no verdict arrives after this
        core_->loop->setWakeHandler(nullptr);
        for (auto& [handle, connection] : connections_) {
            core_->loop->unwatch(handle);
            connection->close();
        }
        if (resumed_ && socket_) {
            core_->loop->unwatch(socket_->handle());
        }
    }

    void setDelegate(std::shared_ptr<BrivaneSensorSnapshotXPC> delegate) {
        delegate_ = std::move(delegate);
    }
    void setAdmission(Admission admission) {
        admission_ = admission ? std::make_shared<const Admission>(std::move(admission)) : nullptr;
    }

    void resume() {
        if (resumed_ || !socket_) {
            return;
        }
        resumed_ = core_->loop->watch(socket_->handle(), platform::EventLoop::readable,
                                      [this](unsigned) { acceptPending(); });
        accepting_ = resumed_;
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

    bool stopOnTermination() {
        return core_->loop->handleTermination([this] { beginShutdown(); });
    }

    const std::string& path() const { return path_; }
    std::size_t connectionCount() const { return connectionCount_.load(); }

private:
    void setAccepting(bool accepting) {
        if (resumed_ && socket_ && accepting != accepting_) {
            accepting_ = accepting;
            core_->loop->change(socket_->handle(),
                                accepting ? unsigned{platform::EventLoop::readable} : 0u);
        }
    }

    void acceptPending() {
        while (socket_ && !shuttingDown_) {
            if (pendingAdmissions_ >= maximumPendingAdmissions) {
                setAccepting(false); // the rest waits in the backlog for verdicts
                return;
            }
            auto stream = socket_->accept();
            if (!stream) {
                return;
            }
            // Refused peers are dropped here: closed without a byte, nothing read.
            if (connections_.size() + pendingAdmissions_ >= maximumConnections) {
                continue;
            }
            const auto peer = stream->peer();
            if (!peer || peer->uid != agentUid_) {
                continue;
            }
            if (!admission_) {
                adopt(std::move(stream));
                continue;
            }
            checkAdmission(std::move(stream));
        }
    }

    // The signature check reads files and hashes executables: it runs on a worker, and the
    // connection is watched only once it is admitted.
    void checkAdmission(std::unique_ptr<platform::StreamSocket> stream) {
        if (!workers_) {
            workers_ = std::make_unique<ipc::AdmissionWorkers>(admissionThreads);
        }
        ++pendingAdmissions_;
        auto held = std::make_shared<std::unique_ptr<platform::StreamSocket>>(std::move(stream));
        workers_->post([held, admission = admission_, weakCore = std::weak_ptr<LoopCore>(core_),
                        deadline = Clock::now() + admissionDeadline] {
            bool admitted = false;
            if (Clock::now() < deadline) {
                const auto peer = (*held)->peer();
                admitted = peer && (*admission)(*peer) && Clock::now() < deadline;
            }
            if (auto core = weakCore.lock()) {
                core->postVerdict({std::move(*held), admitted});
            }
        });
    }

    void takeVerdicts() {
        for (auto& verdict : core_->takeVerdicts()) {
            --pendingAdmissions_;
            if (verdict.admitted && !shuttingDown_) {
                verdict.stream->releasePeerHandle();
                adopt(std::move(verdict.stream));
            }
        }
        if (!shuttingDown_ && pendingAdmissions_ < maximumPendingAdmissions) {
            setAccepting(true);
        }
    }

    void adopt(std::unique_ptr<platform::StreamSocket> stream) {
        auto holder = std::make_shared<std::weak_ptr<Connection>>();
        std::weak_ptr<LoopCore> weakCore = core_;
        auto connection =
            std::make_shared<Connection>(std::move(stream), budget_, [holder, weakCore] {
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
        if ((events & platform::EventLoop::writable) && !connection->flush()) {
            closeConnection(*connection);
            return;
        }
        if (!shuttingDown_) {
            // A flush may have brought the connection back under its allowance.
            if (!parseHeldBack(connection)) {
                return;
            }
            if ((events & (platform::EventLoop::readable | platform::EventLoop::hangUp)) &&
                connection->gate() == Connection::Gate::open &&
                connection->readRequests(dispatcherFor(connection), scratch_) ==
                    Connection::ReadOutcome::close) {
                closeConnection(*connection);
                return;
            }
        }
        // A peer that hung up while we were not reading from it is gone for good.
        if ((events & platform::EventLoop::hangUp) &&
            (shuttingDown_ || connection->gate() != Connection::Gate::open)) {
            closeConnection(*connection);
            return;
        }
        settle(connection);
        afterWork();
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
            if (!shuttingDown_ && !parseHeldBack(connection)) {
                continue;
            }
            settle(connection);
        }
        afterWork();
    }

    // Requests read earlier but held back by the gate are parsed again, or they would wait
    // for the client's next byte. False when the connection was closed.
    bool parseHeldBack(const std::shared_ptr<Connection>& connection) {
        if (connection->hasBuffered() && connection->parseBuffered(dispatcherFor(connection)) ==
                                             Connection::ReadOutcome::close) {
            closeConnection(*connection);
            return false;
        }
        return true;
    }

    // Connections held back by the shared budget get their turn, oldest first, while it has
    // room; one that is held back again goes to the end of the line.
    void serveWaiters() {
        // Each waiter gets at most one turn per call: replies on other threads change the
        // budget meanwhile.
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
    bool leaveWaiters(Connection& connection) {
        if (!connection.waitingForBudget) {
            return false;
        }
        connection.waitingForBudget = false;
        --budget_->waiting;
        return true;
    }

    void afterWork() {
        if (shuttingDown_) {
            finishShutdownIfSettled();
        } else {
            serveWaiters();
        }
    }

    // Watches for exactly what the connection can use now, or closes it if a reply asked to.
    void settle(const std::shared_ptr<Connection>& connection) {
        if (connection->closeRequested()) {
            closeConnection(*connection);
            return;
        }
        unsigned interest = 0;
        if (!shuttingDown_) {
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

    void closeConnection(Connection& connection) {
        const int handle = connection.handle();
        core_->loop->unwatch(handle);
        connection.close();
        leaveWaiters(connection);
        connections_.erase(handle);
        connectionCount_.store(connections_.size());
    }

    // Termination: no new connection and no new request; replies still come and are written
    // until every connection is settled or the grace period ends.
    void beginShutdown() {
        if (shuttingDown_) {
            return;
        }
        shuttingDown_ = true;
        if (resumed_ && socket_) {
            core_->loop->unwatch(socket_->handle());
        }
        socket_.reset(); // removes the endpoint
        budget_->draining = true;
        std::vector<std::shared_ptr<Connection>> open;
        for (const auto& entry : connections_) {
            open.push_back(entry.second);
        }
        for (const auto& connection : open) {
            settle(connection);
        }
        core_->loop->runAt(Clock::now() + terminationGrace, [this] { finishShutdown(); });
        finishShutdownIfSettled();
    }

    void finishShutdownIfSettled() {
        for (const auto& entry : connections_) {
            if (!entry.second->isSettled()) {
                return;
            }
        }
        finishShutdown();
    }

    void finishShutdown() {
        while (!connections_.empty()) {
            closeConnection(*connections_.begin()->second);
        }
        core_->loop->stop();
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
    std::shared_ptr<const Admission> admission_;
    std::shared_ptr<ipc::ConnectionBudget> budget_ = std::make_shared<ipc::ConnectionBudget>();
    std::unordered_map<int, std::shared_ptr<Connection>> connections_;
    std::deque<std::weak_ptr<Connection>> waiters_;
    std::vector<char> scratch_ = std::vector<char>(scratchSize);
    std::atomic<std::size_t> connectionCount_{0};
    std::size_t pendingAdmissions_ = 0;
    bool resumed_ = false;
    bool accepting_ = false;
    bool shuttingDown_ = false;
    std::unique_ptr<ipc::AdmissionWorkers> workers_;
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
bool Listener::stopOnTermination() {
    return impl_->stopOnTermination();
}
const std::string& Listener::endpointPath() const {
    return impl_->path();
}
std::size_t Listener::connectionCount() const {
    return impl_->connectionCount();
}

} // namespace brivane
