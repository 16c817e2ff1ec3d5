#include "ipc/listener.h"

#include "base/main_queue.h"
#include "ipc/admission_gate.h"
#include "ipc/loop_core.h"
#include "ipc/served_connections.h"

#include <utility>

namespace brivane::ipc {

namespace {

// A service name becomes a file name: it must not climb out of the runtime directory.
bool isPlainFileName(std::string_view name) {
    return !name.empty() && name != "." && name != ".." &&
           name.find('/') == std::string_view::npos && name.find('\0') == std::string_view::npos;
}

} // namespace

// The loop, with the admission gate in front of the served connections.
class Listener::Impl {
public:
    Impl(std::shared_ptr<platform::Endpoints> endpoints,
         std::unique_ptr<platform::ListeningSocket> socket, std::string path)
        : endpoints_(std::move(endpoints)), path_(std::move(path)),
          served_(core_, [this] { core_->loop->stop(); }),
          gate_(
              core_, std::move(socket), endpoints_->currentUserId(),
              [this] { return served_.size(); },
              [this](std::unique_ptr<platform::StreamSocket> stream) {
                  served_.adopt(std::move(stream));
              }) {
        core_->loop->setWakeHandler([this] {
            gate_.takeVerdicts();
            served_.serviceConnections();
            base::mainQueue().drain();
        });
    }

    ~Impl() { core_->loop->setWakeHandler(nullptr); }

    void setDelegate(std::shared_ptr<BrivaneSensorSnapshotXPC> delegate) {
        served_.setDelegate(std::move(delegate));
    }
    void setAdmission(Admission admission, KnownAdmission known) {
        gate_.setAdmission(std::move(admission), std::move(known));
    }
    void resume() { gate_.resume(); }

    void run() {
        std::weak_ptr<ipc::LoopCore> weakCore = core_;
        base::mainQueue().setWakeUp([weakCore] {
            if (auto core = weakCore.lock()) {
                core->loop->wake();
            }
        });
        base::mainQueue().drain(); // work posted before the loop started
        core_->loop->run();
        base::mainQueue().setWakeUp(nullptr);
    }

    void stop() { core_->loop->stop(); }

    bool stopOnTermination() {
        return core_->loop->handleTermination([this] { beginShutdown(); });
    }

    void retireWhen(std::function<bool()> retire) {
        served_.setRequestObserver([this, retire = std::move(retire)] {
            if (!shuttingDown_ && retire()) {
                // On the loop's next turn, not inside the read that took the request.
                core_->loop->runAt(std::chrono::steady_clock::now(),
                                   [this] { beginShutdown(true); });
            }
        });
    }

    const std::string& path() const { return path_; }
    std::size_t connectionCount() const { return served_.connectionCount(); }

private:
    // Termination: no new connection and no new request; replies still come and are written
    // until every connection is settled or the grace period ends. Retiring, it waits for the
    // clients to hang up instead: a client looks at the process that answered it after reading
    // the reply, and must still find it.
    void beginShutdown(bool retiring = false) {
        if (shuttingDown_) {
            return;
        }
        shuttingDown_ = true;
        gate_.close();
        core_->loop->runAt(std::chrono::steady_clock::now() + terminationGrace,
                           [this] { served_.closeAll(); });
        served_.invalidateDelegate(); // its cancelled work answers within the grace
        served_.beginDraining(retiring);
    }

    std::shared_ptr<platform::Endpoints> endpoints_;
    std::string path_;
    std::shared_ptr<ipc::LoopCore> core_ = std::make_shared<ipc::LoopCore>();
    ipc::ServedConnections served_;
    ipc::AdmissionGate gate_; // after served_: its workers end first
    bool shuttingDown_ = false;
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
void Listener::setAdmission(Admission admission, KnownAdmission known) {
    impl_->setAdmission(std::move(admission), std::move(known));
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
void Listener::retireWhen(std::function<bool()> retire) {
    impl_->retireWhen(std::move(retire));
}
const std::string& Listener::endpointPath() const {
    return impl_->path();
}
std::size_t Listener::connectionCount() const {
    return impl_->connectionCount();
}

} // namespace brivane::ipc
