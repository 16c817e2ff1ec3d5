#pragma once

#include "ipc/listener.h"
#include "ipc/sensor_client.h"
#include "support/temp_dir.h"

#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <filesystem>
#include <gtest/gtest.h>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace brivane::testing {

// A service that records each request and keeps its reply until the test answers it, unless
// set to answer at once with a fixed document.
class FakeService final : public BrivaneSensorSnapshotXPC {
public:
    struct Call {
        std::string selector;
        std::optional<std::string> argument;
        Reply reply;
    };

    std::optional<std::optional<std::string>> immediate;

    void snapshotWithReply(Reply reply) override { record("snapshot", std::nullopt, reply); }
    void cpuDetailsWithReply(Reply reply) override { record("cpu", std::nullopt, reply); }
    void processDetails(std::string kind, Reply reply) override {
        record("processes", kind, reply);
    }
    void storageHealth(std::string disk, Reply reply) override { record("storage", disk, reply); }
    void manage(std::string command, Reply reply) override { record("manage", command, reply); }

    bool waitForCalls(std::size_t count,
                      std::chrono::milliseconds limit = std::chrono::seconds(5)) {
        std::unique_lock lock(mutex_);
        return arrived_.wait_for(lock, limit, [&] { return calls_.size() >= count; });
    }
    std::size_t callCount() {
        std::lock_guard lock(mutex_);
        return calls_.size();
    }
    Call call(std::size_t index) {
        std::lock_guard lock(mutex_);
        return calls_.at(index);
    }
    // Hands out a held reply (the copy kept here is released).
    Reply takeReply(std::size_t index) {
        std::lock_guard lock(mutex_);
        return std::exchange(calls_.at(index).reply, nullptr);
    }

private:
    void record(const char* selector, std::optional<std::string> argument, Reply& reply) {
        {
            std::lock_guard lock(mutex_);
            calls_.push_back(
                {selector, std::move(argument), immediate ? nullptr : std::move(reply)});
            arrived_.notify_all();
        }
        if (immediate) {
            reply(*immediate);
        }
    }

    std::mutex mutex_;
    std::condition_variable arrived_;
    std::vector<Call> calls_;
};

// A listener at <temp dir>/endpoint running its loop on a background thread.
class ServedListener {
public:
    explicit ServedListener(std::shared_ptr<BrivaneSensorSnapshotXPC> service,
                            Listener::Admission admission = nullptr) {
        auto created = Listener::atPath(directory_.path() + "/endpoint");
        listener_ = std::move(created.listener);
        if (!listener_) {
            ADD_FAILURE() << created.message;
            return;
        }
        listener_->setDelegate(std::move(service));
        if (admission) {
            listener_->setAdmission(std::move(admission));
        }
        listener_->resume();
        loop_ = std::thread([this] { listener_->run(); });
    }
    ~ServedListener() {
        if (listener_) {
            listener_->stop();
            loop_.join();
        }
    }

    const std::string& path() const { return listener_->endpointPath(); }

    std::unique_ptr<ipc::SensorClient> client() {
        std::string problem;
        auto connected = ipc::SensorClient::connect(path(), problem);
        EXPECT_TRUE(connected) << problem;
        return connected;
    }

    bool waitForConnections(std::size_t count) {
        for (int i = 0; i < 500; ++i) {
            if (listener_->connectionCount() == count) {
                return true;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return false;
    }

private:
    TempDir directory_;
    std::unique_ptr<Listener> listener_;
    std::thread loop_;
};

} // namespace brivane::testing
