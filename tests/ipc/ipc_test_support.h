#pragma once

#include "ipc/listener.h"
#include "ipc/sensor_client.h"
#include "support/child_process.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>
#include <mutex>
#include <thread>

namespace brivane::testing {

// A service that records each request and holds its reply until the test answers it, unless
// answerAtOnce() gave the document to answer with.
class FakeService final : public ipc::BrivaneSensorSnapshotXPC {
public:
    struct Call {
        std::string request; // "snapshot", "cpu", or e.g. "processes:memory"
        Reply reply;
    };
    // The listener's thread reads it while the test changes it between requests.
    void answerAtOnce(std::optional<std::string> document) {
        std::lock_guard lock(mutex_);
        immediate_ = std::move(document);
    }

    void snapshotWithReply(Reply reply) override { record("snapshot", reply); }
    void cpuDetailsWithReply(Reply reply) override { record("cpu", reply); }
    void processDetails(std::string kind, Reply reply) override {
        record("processes:" + kind, reply);
    }
    void storageHealth(std::string disk, Reply reply) override { record("storage:" + disk, reply); }
    void manage(std::string command, Reply reply) override { record("manage:" + command, reply); }

    bool waitForCalls(std::size_t count) {
        return pollUntil(std::chrono::seconds(5), [&] { return callCount() >= count; });
    }
    std::size_t callCount() {
        std::lock_guard lock(mutex_);
        return calls_.size();
    }
    // The call with its reply taken out: the service no longer holds it.
    Call take(std::size_t index) {
        std::lock_guard lock(mutex_);
        return {calls_.at(index).request, std::exchange(calls_.at(index).reply, nullptr)};
    }

private:
    // The reply is kept for the test to answer, or answered at once (outside the lock).
    void record(std::string request, Reply& reply) {
        std::unique_lock lock(mutex_);
        const auto immediate = immediate_;
        if (!immediate) {
            calls_.push_back({std::move(request), std::move(reply)});
            return;
        }
        calls_.push_back({std::move(request), nullptr});
        lock.unlock();
        reply(*immediate);
    }

    std::mutex mutex_;
    std::optional<std::optional<std::string>> immediate_;
    std::vector<Call> calls_;
};

// A listener at <temp dir>/endpoint running its loop on a background thread.
class ServedListener {
public:
    explicit ServedListener(std::shared_ptr<ipc::BrivaneSensorSnapshotXPC> service,
                            ipc::Listener::Admission admission = nullptr,
                            ipc::Listener::KnownAdmission known = nullptr)
        : listener_(ipc::Listener::atPath(directory_ / "endpoint").listener) {
        EXPECT_TRUE(listener_);
        listener_->setDelegate(std::move(service));
        if (admission) {
            listener_->setAdmission(std::move(admission), std::move(known));
        }
        listener_->resume();
        loop_ = std::thread([this] { listener_->run(); });
    }
    ~ServedListener() {
        listener_->stop();
        loop_.join();
    }

    const std::string& path() const { return listener_->endpointPath(); }
    std::unique_ptr<ipc::SensorClient> client() {
        std::string problem;
        auto connected = ipc::SensorClient::connect(path(), problem);
        EXPECT_TRUE(connected) << problem;
        return connected;
    }

private:
    TempDir directory_;
    std::unique_ptr<ipc::Listener> listener_;
    std::thread loop_;
};

} // namespace brivane::testing
