#include "base/serial_queue.h"

#include <chrono>
#include <gtest/gtest.h>
#include <numeric>
#include <pthread.h>
#include <thread>
#include <vector>

namespace brivane::base {
namespace {

TEST(SerialQueue, RunsWorkInOrderOnOneNamedThreadAndDrainsOnDestruction) {
    std::vector<int> order;
    char name[16] = {};
    {
        SerialQueue queue("dev.qorva.brivane.VeryLongQueueLabelTail");
        queue.sync([&] { pthread_getname_np(pthread_self(), name, sizeof name); });
        for (int i = 0; i < 100; ++i) {
            queue.async([&order, i] {
                std::this_thread::sleep_for(std::chrono::microseconds(i % 3));
                order.push_back(i);
            });
        }
    }
    EXPECT_STREQ(name, "VeryLongQueueLa"); // Linux keeps 15 bytes of a name
    std::vector<int> expected(100);
    std::iota(expected.begin(), expected.end(), 0);
    EXPECT_EQ(order, expected);
}

} // namespace
} // namespace brivane::base
