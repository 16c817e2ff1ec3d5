#pragma once

#include "ipc/admission_workers.h"
#include "ipc/listener.h"
#include "ipc/loop_core.h"
#include "platform/endpoint.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>

namespace brivane::ipc {

// The listening side of the endpoint: accepts connections, applies the same-user rule, runs
// the admission hook on worker threads and hands admitted streams over. Loop thread only.
class AdmissionGate {
public:
    using Admission = Listener::Admission;
    using KnownAdmission = Listener::KnownAdmission;
    using Adopt = std::function<void(std::unique_ptr<platform::StreamSocket>)>;

    // served: how many connections are served now; adopt: takes an admitted stream.
    AdmissionGate(std::shared_ptr<LoopCore> core, std::unique_ptr<platform::ListeningSocket> socket,
                  std::uint32_t agentUid, std::function<std::size_t()> served, Adopt adopt);
    ~AdmissionGate();
    AdmissionGate(const AdmissionGate&) = delete;
    AdmissionGate& operator=(const AdmissionGate&) = delete;

    void setAdmission(Admission admission, KnownAdmission known);
    void resume();
    // Verdicts that came back from the workers; admitted streams are adopted unless closed.
    void takeVerdicts();
    // Stops accepting and removes the endpoint; later verdicts only close their connections.
    void close();

private:
    void setAccepting(bool accepting);
    void acceptPending();
    void checkAdmission(std::unique_ptr<platform::StreamSocket> stream);

    std::shared_ptr<LoopCore> core_;
    std::unique_ptr<platform::ListeningSocket> socket_;
    std::uint32_t agentUid_;
    std::function<std::size_t()> served_;
    Adopt adopt_;
    std::shared_ptr<const Admission> admission_;
    KnownAdmission known_;
    std::size_t pendingAdmissions_ = 0;
    bool resumed_ = false;
    bool accepting_ = false;
    bool closed_ = false;
    std::unique_ptr<AdmissionWorkers> workers_;
};

} // namespace brivane::ipc
