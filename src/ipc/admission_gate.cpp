#include "ipc/admission_gate.h"

#include <utility>

namespace brivane::ipc {
namespace {

using Clock = std::chrono::steady_clock;

constexpr std::size_t admissionThreads = 2;

} // namespace

AdmissionGate::AdmissionGate(std::shared_ptr<LoopCore> core,
                             std::unique_ptr<platform::ListeningSocket> socket,
                             std::uint32_t agentUid, std::function<std::size_t()> served,
                             Adopt adopt)
    : core_(std::move(core)), socket_(std::move(socket)), agentUid_(agentUid),
      served_(std::move(served)), adopt_(std::move(adopt)) {}

AdmissionGate::~AdmissionGate() {
    workers_.reset(); // no verdict arrives after this
    if (resumed_ && socket_) {
        core_->loop->unwatch(socket_->handle());
    }
}

void AdmissionGate::setAdmission(Admission admission, KnownAdmission known) {
    admission_ = admission ? std::make_shared<const Admission>(std::move(admission)) : nullptr;
    known_ = admission_ ? std::move(known) : nullptr;
}

void AdmissionGate::resume() {
    if (resumed_ || !socket_) {
        return;
    }
    resumed_ = core_->loop->watch(socket_->handle(), platform::EventLoop::readable,
                                  [this](unsigned) { acceptPending(); });
    accepting_ = resumed_;
}

void AdmissionGate::close() {
    closed_ = true;
    if (resumed_ && socket_) {
        core_->loop->unwatch(socket_->handle());
    }
    socket_.reset(); // removes the endpoint
}

void AdmissionGate::setAccepting(bool accepting) {
    if (resumed_ && socket_ && accepting != accepting_) {
        accepting_ = accepting;
        core_->loop->change(socket_->handle(),
                            accepting ? unsigned{platform::EventLoop::readable} : 0u);
    }
}

void AdmissionGate::acceptPending() {
    while (socket_ && !closed_) {
        if (pendingAdmissions_ >= Listener::maximumPendingAdmissions) {
            setAccepting(false); // the rest waits in the backlog for verdicts
            return;
        }
        auto stream = socket_->accept();
        if (!stream) {
            return;
        }
        // Refused peers are dropped here: closed without a byte, nothing read.
        if (served_() + pendingAdmissions_ >= Listener::maximumConnections) {
            continue;
        }
        const auto peer = stream->peer();
        if (!peer || peer->uid != agentUid_) {
            continue;
        }
        if (!admission_) {
            adopt_(std::move(stream));
            continue;
        }
        checkAdmission(std::move(stream));
    }
}

// The signature check reads files and hashes executables: it runs on a worker, also for a
// client already verified (its files are opened and compared with the verdict's, and a file
// system that stops answering must hold that worker, not the loop), and the connection is
// watched only once it is admitted.
void AdmissionGate::checkAdmission(std::unique_ptr<platform::StreamSocket> stream) {
    if (!workers_) {
        workers_ = std::make_unique<AdmissionWorkers>(admissionThreads);
    }
    ++pendingAdmissions_;
    auto held = std::make_shared<std::unique_ptr<platform::StreamSocket>>(std::move(stream));
    workers_->post([held, admission = admission_, known = known_,
                    weakCore = std::weak_ptr<LoopCore>(core_),
                    deadline = Clock::now() + Listener::admissionDeadline] {
        bool admitted = false;
        if (Clock::now() < deadline) {
            const auto peer = (*held)->peer();
            const auto verdict =
                peer && known ? known(*peer) : platform::SignatureVerdict::Unknown{};
            admitted = peer &&
                       (verdict.unknown() ? (*admission)(*peer) : verdict.admitted() != nullptr) &&
                       Clock::now() < deadline;
        }
        if (auto core = weakCore.lock()) {
            core->postVerdict({std::move(*held), admitted});
        }
    });
}

void AdmissionGate::takeVerdicts() {
    for (auto& verdict : core_->takeVerdicts()) {
        --pendingAdmissions_;
        if (verdict.admitted && !closed_) {
            verdict.stream->releasePeerHandle();
            adopt_(std::move(verdict.stream));
        }
    }
    if (!closed_ && pendingAdmissions_ < Listener::maximumPendingAdmissions) {
        setAccepting(true);
    }
}

} // namespace brivane::ipc
