#pragma once

// The client side of the whole-agent benches: run as the agent's user by the bench itself
// (`--client ENDPOINT N`), it connects, waits for its admission, then prints N snapshot round
// trips in µs, one a line.

#include "ipc/sensor_client.h"

#include <chrono>
#include <cstdio>
#include <optional>
#include <string>
#include <thread>

inline int timeSnapshots(const std::string& endpoint, int count) {
    std::string problem;
    auto client = brivane::ipc::SensorClient::connect(endpoint, problem);
    if (!client) {
        std::fprintf(stderr, "%s\n", problem.c_str());
        return 1;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    for (int i = 0; i < count; ++i) {
        const auto began = std::chrono::steady_clock::now();
        const auto outcome = client->call(brivane::ipc::Selector::snapshot, std::nullopt, 10000);
        if (outcome.status != brivane::ipc::SensorClient::Status::replied) {
            return 1;
        }
        std::printf("%.1f\n", std::chrono::duration<double, std::micro>(
                                  std::chrono::steady_clock::now() - began)
                                  .count());
    }
    return 0;
}
