// Programs of the agent's own user that try to stall or exhaust it, and the client that watches
// what the others see meanwhile. Each prints what it saw and exits 0 when the scenario held:
//   watch <endpoint> <ms> [kind]        one request at a time (snapshot or cpu) on
//                                       one connection; prints the slowest
//   reconnect <endpoint> <ms>           one snapshot per connection, as separate runs of the
//                                       CLI ask; prints the slowest
//   intrude <endpoint> <ms>             connects again and again, touching its executable to
//                                       defeat the verdict cache; must never be answered
//   pipeline <endpoint> <n> <ms> [pid]  n requests in one write, a pause, then every reply; with
//                                       pid: SIGTERM to it after the first, then the rest
//   crowd <endpoint> <conns> <n> <ms> [kind]  conns connections holding n unread requests each
//                                       of kind (snapshot or cpu) for ms, then closing
//                                       (n = 0: idle after one answered request)
//   load <endpoint> <n> <seed>          n requests of every kind in random batches, each reply
//                                       checked; now and then a batch abandoned
//   impersonate <endpoint> <ms>         serves the endpoint (the agent gone) for ms, answering
//                                       every request with a made-up hot snapshot
//   forge <endpoint> <agent> <ms>       the same from a user and pid namespace of its own, with
//                                       the genuine agent started there on the endpoint's
//                                       socket (then stopped) and named as the writer; exits 77
//                                       without user namespaces

#include "ipc/listener.h"
#include "ipc/sensor_client.h"

#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <map>
#include <poll.h>
#include <random>
#include <sched.h>
#include <set>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <thread>

namespace {

using namespace brivane::ipc;
using Clock = std::chrono::steady_clock;
using Socket = std::unique_ptr<brivane::platform::StreamSocket>;
constexpr int limitMs = 10000;

Socket open(const std::string& endpoint) {
    std::string problem;
    return brivane::platform::makeDefaultEndpoints()->connect(endpoint, problem, limitMs);
}

struct Request {
    Selector selector;
    std::optional<std::string> argument;
};

Request requestNamed(const std::string& kind) {
    return {kind == "cpu" ? Selector::cpuDetails : Selector::snapshot, std::nullopt};
}

// n requests in one write: all of it, or as much as the socket takes without waiting.
bool send(brivane::platform::StreamSocket& socket, long n, bool wait,
          const Request& request = {Selector::snapshot, std::nullopt}) {
    std::string frames;
    for (long id = 1; id <= n; ++id) {
        appendRequestFrame(frames, static_cast<std::uint32_t>(id), request.selector,
                           request.argument);
    }
    for (std::string_view rest = frames; !rest.empty();) {
        const auto result = socket.write(rest.data(), rest.size());
        if (result.status == brivane::platform::IoStatus::ok) {
            rest.remove_prefix(result.bytes);
        } else if (!wait || !socket.waitWritable(limitMs)) {
            return !wait;
        }
    }
    return true;
}

bool watch(const std::string& endpoint, long ms, const Request& request) {
    SensorClient client(open(endpoint));
    double slowest = 0;
    std::size_t replies = 0;
    for (const auto end = Clock::now() + std::chrono::milliseconds(ms); Clock::now() < end;
         ++replies) {
        const auto start = Clock::now();
        if (!client.call(request.selector, request.argument, limitMs).reply.document) {
            std::printf("slowest_ms none after %zu replies\n", replies);
            return false;
        }
        slowest = std::max(slowest,
                           std::chrono::duration<double, std::milli>(Clock::now() - start).count());
    }
    std::printf("slowest_ms %.1f replies %zu\n", slowest, replies);
    return true;
}

bool reconnect(const std::string& endpoint, long ms) {
    double slowest = 0;
    std::size_t replies = 0;
    for (const auto end = Clock::now() + std::chrono::milliseconds(ms); Clock::now() < end;
         ++replies) {
        const auto start = Clock::now();
        if (!SensorClient(open(endpoint)).call(Selector::snapshot, {}, limitMs).reply.document) {
            std::printf("slowest_ms none after %zu replies\n", replies);
            return false;
        }
        slowest = std::max(slowest,
                           std::chrono::duration<double, std::milli>(Clock::now() - start).count());
    }
    std::printf("slowest_ms %.1f replies %zu\n", slowest, replies);
    return true;
}

bool intrude(const std::string& endpoint, long ms) {
    for (const auto end = Clock::now() + std::chrono::milliseconds(ms); Clock::now() < end;) {
        ::utimensat(AT_FDCWD, "/proc/self/exe", nullptr, 0);
        if (SensorClient(open(endpoint)).call(Selector::snapshot, {}, limitMs).reply.document) {
            std::printf("admitted\n");
            return false;
        }
    }
    return true;
}

bool pipeline(const std::string& endpoint, long n, long pauseMs, pid_t terminate) {
    auto socket = open(endpoint);
    if (!socket || !send(*socket, n, true)) {
        return false;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(pauseMs));
    SensorClient client(std::move(socket));
    std::set<std::uint32_t> answered;
    auto outcome = client.receive(limitMs);
    if (terminate > 0) {
        ::kill(terminate, SIGTERM); // with requests still in flight
    }
    for (; outcome.status == SensorClient::Status::replied; outcome = client.receive(1000)) {
        if (!outcome.reply.document || !answered.insert(outcome.reply.id).second) {
            std::printf("empty or repeated reply %u\n", outcome.reply.id);
            return false;
        }
    }
    const bool closed = outcome.status == SensorClient::Status::disconnected;
    std::printf("replies %zu of %ld, then %s\n", answered.size(), n, closed ? "closed" : "silence");
    // Each reply whole; all of them, or when terminated, those it gives and then the end.
    return terminate > 0 ? closed && !answered.empty() : answered.size() == std::size_t(n);
}

bool crowd(const std::string& endpoint, long conns, long n, long ms, const Request& request) {
    rlimit limit{};
    ::getrlimit(RLIMIT_NOFILE, &limit);
    limit.rlim_cur = limit.rlim_max;
    ::setrlimit(RLIMIT_NOFILE, &limit);
    std::vector<std::unique_ptr<SensorClient>> held;
    while (static_cast<long>(held.size()) < conns) {
        auto socket = open(endpoint);
        if (!socket || !send(*socket, std::max(n, 1L), n == 0, request)) {
            break;
        }
        held.push_back(std::make_unique<SensorClient>(std::move(socket)));
        if (n == 0 && held.back()->receive(limitMs).status != SensorClient::Status::replied) {
            break;
        }
    }
    std::printf("connections %zu\n", held.size());
    if (std::fflush(stdout) != 0) {
        return false;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
    return static_cast<long>(held.size()) == conns;
}

// Requests that run system tools hold their queue for a long time each, so they are rare;
// the rest is snapshots and arguments the service refuses at once.
struct Kind {
    Selector selector;
    std::optional<std::string> argument;
    const char* mark; // text every document of this kind holds; nullptr: no data expected
    int weight;
};
const Kind kinds[] = {
    {Selector::snapshot, std::nullopt, "\"temperatures\"", 740},
    {Selector::cpuDetails, std::nullopt, "\"residencies\"", 3},
    {Selector::processDetails, "memory", "\"ranked\"", 3},
    {Selector::processDetails, "storage", "\"storage\"", 2},
    {Selector::storageHealth, "disk0", "\"helperUID\"", 2},
    {Selector::processDetails, "Memory", nullptr, 90},
    {Selector::storageHealth, "/dev/disk0", nullptr, 80},
    {Selector::manage, "check", nullptr, 80},
};

bool load(const std::string& endpoint, long n, long seed) {
    std::mt19937 random(static_cast<unsigned>(seed));
    std::discrete_distribution<std::size_t> kindOf(
        std::size(kinds), 0, std::size(kinds), [](double i) {
            return kinds[static_cast<std::size_t>(i)].weight; // i is the index plus one half
        });
    long sent = 0, answered = 0;
    for (std::unique_ptr<SensorClient> client; sent < n;) {
        if (!client) {
            client = std::make_unique<SensorClient>(open(endpoint));
        }
        std::map<std::uint32_t, const Kind*> pending;
        for (long batch = random() % 16 + 1; batch > 0 && sent < n; --batch, ++sent) {
            const Kind& kind = kinds[kindOf(random)];
            const auto id = client->send(kind.selector, kind.argument);
            if (!id) {
                std::printf("cannot send after %ld\n", sent);
                return false;
            }
            pending.emplace(*id, &kind);
        }
        if (random() % 100 < 3) { // vanish with the batch in flight
            client.reset();
            continue;
        }
        for (; !pending.empty(); ++answered) {
            const auto outcome = client->receive(limitMs);
            const auto found = pending.find(outcome.reply.id);
            const auto& document = outcome.reply.document;
            if (outcome.status != SensorClient::Status::replied || found == pending.end() ||
                (found->second->mark
                     ? !document || document->find(found->second->mark) == std::string::npos
                     : document.has_value())) {
                std::printf("reply %u lost, repeated or not fitting its request\n",
                            outcome.reply.id);
                return false;
            }
            pending.erase(found);
        }
    }
    std::printf("answered %ld\n", answered);
    return true;
}

constexpr const char* madeUp = R"({"version":2,"temperatures":[{"key":"TC0P","value":99.5}],)"
                               R"("fans":[],"helperUID":1,"helperEffectiveUID":1})";

class Impostor final : public brivane::ipc::BrivaneSensorSnapshotXPC {
public:
    void snapshotWithReply(Reply reply) override { reply(madeUp); }
    void cpuDetailsWithReply(Reply reply) override { snapshotWithReply(std::move(reply)); }
    void processDetails(std::string, Reply reply) override { snapshotWithReply(reply); }
    void storageHealth(std::string, Reply reply) override { snapshotWithReply(reply); }
    void manage(std::string, Reply reply) override { snapshotWithReply(reply); }
};

bool impersonate(const std::string& endpoint, long ms) {
    auto served = brivane::ipc::Listener::atPath(endpoint);
    if (!served.listener) {
        std::printf("cannot serve: %s\n", served.message.c_str());
        return false;
    }
    served.listener->setDelegate(std::make_shared<Impostor>());
    served.listener->resume();
    std::thread stopper([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(ms));
        served.listener->stop();
    });
    served.listener->run();
    stopper.join();
    return true;
}

// Starts the agent on the listening socket as a service manager does, in a child.
pid_t startOn(int listening, const std::string& agent) {
    const pid_t started = ::fork();
    if (started == 0) {
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        ::dup2(listening, 3);
        ::setenv("LISTEN_FDS", "1", 1);
        ::setenv("LISTEN_PID", std::to_string(::getpid()).c_str(), 1);
        ::execl(agent.c_str(), agent.c_str(), "--agent", nullptr);
        ::_exit(127);
    }
    return started;
}

bool forge(const std::string& endpoint, const std::string& agent, long ms) {
    const auto uid = std::to_string(::getuid()), gid = std::to_string(::getgid());
    if (::unshare(CLONE_NEWUSER | CLONE_NEWPID) != 0) {
        std::exit(77);
    }
    std::ofstream("/proc/self/setgroups") << "deny";
    std::ofstream("/proc/self/uid_map") << uid << ' ' << uid << " 1";
    std::ofstream("/proc/self/gid_map") << gid << ' ' << gid << " 1";
    const int listening = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK, 0);
    const std::string preparing = endpoint + ".new"; // renamed into place once all is set
    sockaddr_un address{AF_UNIX, {}};
    preparing.copy(address.sun_path, sizeof address.sun_path - 1);
    const auto* to = reinterpret_cast<sockaddr*>(&address);
    if (::bind(listening, to, sizeof address) != 0 || ::listen(listening, 64) != 0) {
        return false;
    }
    if (const pid_t first = ::fork(); first != 0) { // pid 1 there, with its capabilities
        return first > 0 && ::waitpid(first, nullptr, 0) == first;
    }
    ::prctl(PR_SET_PDEATHSIG, SIGKILL); // and the namespace's processes with it
    const pid_t genuine = startOn(listening, agent);
    // Once the agent has listened, connections name it as their peer; then (at the latest
    // after 2 s) it is stopped, and only the forger answers.
    ucred peer{};
    for (int tries = 0; tries < 100 && peer.pid != genuine; ++tries) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        const int probe = ::socket(AF_UNIX, SOCK_STREAM, 0);
        socklen_t size = sizeof peer;
        if (::connect(probe, to, sizeof address) == 0) {
            ::getsockopt(probe, SOL_SOCKET, SO_PEERCRED, &peer, &size);
        }
        ::close(probe);
    }
    ::kill(genuine, SIGSTOP);
    if (::rename(preparing.c_str(), endpoint.c_str()) != 0) {
        ::_exit(1);
    }
    // Reply 1 (a client's first request) to all, the agent named as its writer.
    std::string frame;
    appendReplyFrame(frame, 1, std::string(madeUp));
    ucred forged{genuine, ::getuid(), ::getgid()};
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof forged)] = {};
    iovec io{frame.data(), frame.size()};
    const msghdr message{nullptr, 0, &io, 1, control, sizeof control, 0};
    *CMSG_FIRSTHDR(&message) = {CMSG_LEN(sizeof forged), SOL_SOCKET, SCM_CREDENTIALS};
    std::memcpy(CMSG_DATA(CMSG_FIRSTHDR(&message)), &forged, sizeof forged);
    for (const auto end = Clock::now() + std::chrono::milliseconds(ms); Clock::now() < end;) {
        pollfd entry{listening, POLLIN, 0};
        ::poll(&entry, 1, 100);
        if (const int connection = ::accept4(listening, nullptr, nullptr, 0); connection >= 0) {
            char request[512];
            ::recv(connection, request, sizeof request, 0);
            ::sendmsg(connection, &message, MSG_NOSIGNAL);
            ::close(connection);
        }
    }
    ::_exit(0);
}

} // namespace

int main(int argc, char** argv) {
    const std::vector<std::string> args(argv + 1, argv + argc);
    const auto number = [&](std::size_t i) { return i < args.size() ? std::stol(args[i]) : 0L; };
    const std::string scenario = args.empty() ? "" : args[0];
    const std::string endpoint = args.size() > 1 ? args[1] : "";
    const auto kind = [&](std::size_t i) { return requestNamed(i < args.size() ? args[i] : ""); };
    bool held = false;
    if (scenario == "watch") {
        held = watch(endpoint, number(2), kind(3));
    } else if (scenario == "reconnect") {
        held = reconnect(endpoint, number(2));
    } else if (scenario == "intrude") {
        held = intrude(endpoint, number(2));
    } else if (scenario == "pipeline") {
        held = pipeline(endpoint, number(2), number(3), static_cast<pid_t>(number(4)));
    } else if (scenario == "crowd") {
        held = crowd(endpoint, number(2), number(3), number(4), kind(5));
    } else if (scenario == "impersonate") {
        held = impersonate(endpoint, number(2));
    } else if (scenario == "forge") {
        held = forge(endpoint, args.size() > 2 ? args[2] : "", number(3));
    } else if (scenario == "load") {
        held = load(endpoint, number(2), number(3));
    } else {
        std::fprintf(stderr, "usage: see the top of attack_client_main.cpp\n");
        return 2;
    }
    return held ? 0 : 1;
}
