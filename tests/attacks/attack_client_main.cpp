// Programs of the agent's own user that try to stall or exhaust it, and the well-behaved client
// that watches what the others see. Usage: brivane-attack-client <scenario> <endpoint> [n...].
// Prints what it saw; exits 0 when the scenario held.
//
//   watch <endpoint> <ms>                 snapshots on one connection; prints the slowest
//   intrude <endpoint> <ms> [touch]       connects again and again; must never be answered
//   pipeline <endpoint> <n> <pauseMs>     n requests in one write, a pause, then every reply
//   flood <endpoint> <conns> <n> <ms>     conns connections that send n requests, never read
//   idle <endpoint> <conns> <ms>          conns connections idle after one answered snapshot
//   terminate <endpoint> <n> <agentPid>   SIGTERM with requests in flight; replies, then EOF

#include "ipc/sensor_client.h"
#include "platform/endpoint.h"

#include <chrono>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <set>
#include <string>
#include <sys/resource.h>
#include <sys/stat.h>
#include <thread>
#include <vector>

namespace {

using brivane::ipc::Selector;
using brivane::ipc::SensorClient;
using Clock = std::chrono::steady_clock;
using Socket = std::unique_ptr<brivane::platform::StreamSocket>;

constexpr int limitMs = 10000;

long argument(const std::vector<std::string>& args, std::size_t index) {
    return index < args.size() ? std::stol(args[index]) : 0;
}

Socket open(const std::string& endpoint) {
    std::string problem;
    return brivane::platform::makeDefaultEndpoints()->connect(endpoint, problem, limitMs);
}

std::string snapshots(std::size_t count) {
    std::string frames;
    for (std::uint32_t id = 1; id <= count; ++id) {
        brivane::ipc::appendRequestFrame(frames, id, Selector::snapshot, std::nullopt);
    }
    return frames;
}

// Writes what the socket takes now; a client that never reads may not get everything in.
void writeSome(brivane::platform::StreamSocket& socket, std::string_view bytes) {
    while (!bytes.empty()) {
        const auto result = socket.write(bytes.data(), bytes.size());
        if (result.status != brivane::platform::IoStatus::ok) {
            return;
        }
        bytes.remove_prefix(result.bytes);
    }
}

bool writeAll(brivane::platform::StreamSocket& socket, std::string_view bytes) {
    while (!bytes.empty()) {
        const auto result = socket.write(bytes.data(), bytes.size());
        if (result.status == brivane::platform::IoStatus::wouldBlock &&
            socket.waitWritable(limitMs)) {
            continue;
        }
        if (result.status != brivane::platform::IoStatus::ok) {
            return false;
        }
        bytes.remove_prefix(result.bytes);
    }
    return true;
}

void raiseDescriptorLimit() {
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) == 0) {
        limit.rlim_cur = limit.rlim_max;
        ::setrlimit(RLIMIT_NOFILE, &limit);
    }
}

bool watch(const std::string& endpoint, long ms) {
    std::string problem;
    auto client = SensorClient::connect(endpoint, problem, limitMs);
    double slowest = 0;
    std::size_t replies = 0;
    const auto end = Clock::now() + std::chrono::milliseconds(ms);
    while (client && Clock::now() < end) {
        const auto start = Clock::now();
        const auto outcome = client->call(Selector::snapshot, std::nullopt, limitMs);
        if (outcome.status != SensorClient::Status::replied || !outcome.reply.document) {
            std::printf("unanswered after %zu replies\n", replies);
            return false;
        }
        slowest = std::max(slowest,
                           std::chrono::duration<double, std::milli>(Clock::now() - start).count());
        ++replies;
    }
    std::printf("slowest_ms %.1f replies %zu\n", slowest, replies);
    return replies > 0;
}

// Must be refused every time: closed without a byte.
bool intrude(const std::string& endpoint, long ms, bool touch) {
    const auto end = Clock::now() + std::chrono::milliseconds(ms);
    std::size_t attempts = 0;
    while (Clock::now() < end) {
        if (touch) {
            ::utimensat(AT_FDCWD, "/proc/self/exe", nullptr, 0); // defeats the verdict cache
        }
        auto socket = open(endpoint);
        if (!socket) {
            continue;
        }
        SensorClient client(std::move(socket));
        if (client.call(Selector::snapshot, std::nullopt, limitMs).status ==
            SensorClient::Status::replied) {
            std::printf("answered\n");
            return false;
        }
        ++attempts;
    }
    std::printf("refused %zu\n", attempts);
    return true;
}

bool pipeline(const std::string& endpoint, long count, long pauseMs) {
    auto socket = open(endpoint);
    if (!socket || !writeAll(*socket, snapshots(count))) {
        return false;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(pauseMs));
    SensorClient client(std::move(socket));
    std::set<std::uint32_t> answered;
    for (long i = 0; i < count; ++i) {
        const auto outcome = client.receive(limitMs);
        if (outcome.status != SensorClient::Status::replied || !outcome.reply.document) {
            break;
        }
        answered.insert(outcome.reply.id);
    }
    const bool extra = client.receive(200).status == SensorClient::Status::replied;
    std::printf("replies %zu of %ld%s\n", answered.size(), count, extra ? " and more" : "");
    return static_cast<long>(answered.size()) == count && !extra;
}

// Opens conns connections, each sending `requests` snapshot requests, and holds them unread.
bool hold(const std::string& endpoint, long conns, long requests, long ms) {
    raiseDescriptorLimit();
    const std::string frames = snapshots(requests);
    std::vector<Socket> held;
    for (long i = 0; i < conns; ++i) {
        auto socket = open(endpoint);
        if (!socket) {
            break;
        }
        writeSome(*socket, frames);
        held.push_back(std::move(socket));
    }
    std::printf("connections %zu\n", held.size());
    std::fflush(stdout);
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
    return static_cast<long>(held.size()) == conns;
}

bool idle(const std::string& endpoint, long conns, long ms) {
    raiseDescriptorLimit();
    std::vector<std::unique_ptr<SensorClient>> held;
    for (long i = 0; i < conns; ++i) {
        std::string problem;
        auto client = SensorClient::connect(endpoint, problem, limitMs);
        if (!client || client->call(Selector::snapshot, std::nullopt, limitMs).status !=
                           SensorClient::Status::replied) {
            break;
        }
        held.push_back(std::move(client));
    }
    std::printf("connections %zu\n", held.size());
    std::fflush(stdout);
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
    return static_cast<long>(held.size()) == conns;
}

bool terminate(const std::string& endpoint, long count, long agentPid) {
    auto socket = open(endpoint);
    if (!socket || !writeAll(*socket, snapshots(count))) {
        return false;
    }
    SensorClient client(std::move(socket));
    std::set<std::uint32_t> answered;
    auto outcome = client.receive(limitMs);
    if (outcome.status != SensorClient::Status::replied) {
        return false;
    }
    ::kill(static_cast<pid_t>(agentPid), SIGTERM); // with requests still in flight
    while (outcome.status == SensorClient::Status::replied) {
        if (!outcome.reply.document || !answered.insert(outcome.reply.id).second) {
            std::printf("empty or repeated reply %u\n", outcome.reply.id);
            return false;
        }
        outcome = client.receive(limitMs);
    }
    // Every reply came whole, then the connection ended instead of going silent.
    std::printf("replies %zu of %ld, %s\n", answered.size(), count,
                outcome.status == SensorClient::Status::disconnected ? "closed" : "silent");
    return outcome.status == SensorClient::Status::disconnected;
}

} // namespace

int main(int argc, char** argv) {
    const std::vector<std::string> args(argv + 1, argv + argc);
    if (args.size() < 3) {
        std::fprintf(stderr, "usage: brivane-attack-client <scenario> <endpoint> <n>...\n");
        return 2;
    }
    const std::string& scenario = args[0];
    const std::string& endpoint = args[1];
    bool held = false;
    if (scenario == "watch") {
        held = watch(endpoint, argument(args, 2));
    } else if (scenario == "intrude") {
        held = intrude(endpoint, argument(args, 2), args.size() > 3 && args[3] == "touch");
    } else if (scenario == "pipeline") {
        held = pipeline(endpoint, argument(args, 2), argument(args, 3));
    } else if (scenario == "flood") {
        held = hold(endpoint, argument(args, 2), argument(args, 3), argument(args, 4));
    } else if (scenario == "idle") {
        held = idle(endpoint, argument(args, 2), argument(args, 3));
    } else if (scenario == "terminate") {
        held = terminate(endpoint, argument(args, 2), argument(args, 3));
    } else {
        std::fprintf(stderr, "unknown scenario %s\n", scenario.c_str());
        return 2;
    }
    return held ? 0 : 1;
}
