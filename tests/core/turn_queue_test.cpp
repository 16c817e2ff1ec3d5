#include "core/turn_queue.h"
#include "support/child_process.h"

#include <atomic>
#include <future>
#include <gtest/gtest.h>

namespace brivane::testing {
namespace {

using namespace std::chrono_literals;

// A reply from a given client that records what it got, wanted until `gone`.
struct Asker final : ServiceReply::Destination {
    Asker(std::uint64_t from, const std::atomic<bool>* gone) : from(from), gone(gone) {}
    void send(std::optional<std::string> document) override { got.push_back(document); }
    bool isWanted() const override { return !gone || !*gone; }
    std::uint64_t client() const override { return from; }

    std::uint64_t from;
    const std::atomic<bool>* gone;
    std::vector<std::optional<std::string>> got;
};

class Turns : public ::testing::Test {
protected:
    // Holds the queue busy until release().
    void hold() {
        queue.async([](std::optional<std::string>) {}, {},
                    [this](const ServiceReply&) { released.get_future().wait(); });
    }
    void release() { released.set_value(); }
    std::shared_ptr<Asker> ask(std::uint64_t client, std::string key, std::string name,
                               const std::atomic<bool>* gone = nullptr) {
        auto asker = std::make_shared<Asker>(client, gone);
        queue.async(ServiceReply(asker), std::move(key), [this, name](const ServiceReply& reply) {
            std::lock_guard lock(mutex);
            runs.push_back(name);
            reply(name);
        });
        return asker;
    }
    // What ran, once everything queued so far has had its turn.
    std::vector<std::string> ranRuns() {
        EXPECT_TRUE(pollUntil(5s, [&] { return queue.waitingRequests() == 0; }));
        std::promise<void> passed;
        queue.async([](std::optional<std::string>) {}, {},
                    [&](const ServiceReply&) { passed.set_value(); });
        EXPECT_EQ(passed.get_future().wait_for(5s), std::future_status::ready);
        std::lock_guard lock(mutex);
        return runs;
    }

    std::promise<void> released;
    std::mutex mutex;
    std::vector<std::string> runs;
    std::atomic<bool> gone{false};
    TurnQueue queue{"test.turns"};
};

// A client's backlog gives way after each run; its own order holds. Identical waiting work
// runs once, at the earliest turn of those who asked, and answers all of them.
TEST_F(Turns, ClientsTakeTurnsAndIdenticalWaitingWorkRunsOnce) {
    hold();
    for (const char* disk : {"a1", "a2", "a3", "a4"})
        ask(1, disk, disk);
    const auto shared = ask(2, "a4", "a4 for 2"); // joins client 1's fourth
    ask(3, "", "c1");
    ask(3, "", "c2");
    release();
    EXPECT_EQ(ranRuns(), (std::vector<std::string>{"a1", "a4", "c1", "a2", "c2", "a3"}));
    EXPECT_EQ(shared->got, (std::vector<std::optional<std::string>>{"a4"}));
}

// Work nobody waits for is not run; a run that started finishes for whoever still waits.
TEST_F(Turns, AbandonedWorkIsDroppedBeforeItRuns) {
    hold();
    const auto dropped = ask(1, "cpu", "cpu", &gone);
    const auto alone = ask(1, "disk0", "disk0", &gone);
    const auto kept = ask(2, "cpu", "cpu");
    gone = true;
    release();
    EXPECT_EQ(ranRuns(), std::vector<std::string>{"cpu"});
    EXPECT_TRUE(dropped->got.empty() && alone->got.empty());
    EXPECT_EQ(kept->got.size(), 1u);
}

// Connections that queue work and vanish cost memory only until the next sweep.
TEST_F(Turns, AbandonedRequestsDoNotPileUp) {
    hold();
    gone = true;
    for (int i = 0; i < 20000; ++i) {
        ask(static_cast<std::uint64_t>(i), "disk" + std::to_string(i), "x", &gone);
        ASSERT_LE(queue.waitingRequests(), 128u);
    }
    release();
    EXPECT_TRUE(ranRuns().empty());
}

} // namespace
} // namespace brivane::testing
