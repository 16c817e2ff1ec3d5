#include "ipc_test_support.h"
#include "platform/linux/endpoint_linux.h"
#include "platform/linux/unix_socket_linux.h"
#include "platform/serial_queue.h"

#include <cstring>
#include <fcntl.h>
#include <numeric>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace brivane::testing {
namespace {

using platform::linux_backend::resolveRuntimeDirectory;

TEST(RuntimeDirectory, PrefersAPrivateXdgDirectoryElseAFallbackOfItsOwn) {
    const struct Case {
        const char* xdg;      // a folder of the test's, or nullptr for none
        const char* fallback; // already there: "", "0750" or "symlink"
        const char* chosen;   // "xdg", "fallback", or "" when refused
    } cases[] = {
        {"/xdg", "", "xdg"},         {nullptr, "", "fallback"},    {"xdg", "", "fallback"},
        {"/shared", "", "fallback"}, {"/missing", "", "fallback"}, {nullptr, "0750", ""},
        {nullptr, "symlink", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.xdg ? c.xdg : "unset") + ", fallback " + c.fallback);
        TempDir root;
        root.makeDirectory("xdg");
        root.makeDirectory("shared");
        ::chmod((root / "xdg").c_str(), 0700);
        const auto fallback = root / ("brivane-" + std::to_string(::getuid()));
        if (c.fallback == std::string("0750")) {
            ::mkdir(fallback.c_str(), 0750);
        } else if (c.fallback == std::string("symlink")) {
            ::symlink((root / "xdg").c_str(), fallback.c_str());
        }
        const auto xdg = c.xdg && c.xdg[0] == '/' ? root.path() + c.xdg : c.xdg ? c.xdg : "";
        const auto resolved =
            resolveRuntimeDirectory(c.xdg ? xdg.c_str() : nullptr, ::getuid(), root.path());
        const std::map<std::string, std::optional<std::string>> paths = {
            {"xdg", root / "xdg"}, {"fallback", fallback}, {"", std::nullopt}};
        EXPECT_EQ(resolved.path, paths.at(c.chosen)) << resolved.problem;
        if (c.fallback == std::string("0750")) {
            EXPECT_NE(resolved.problem.find("0700"), std::string::npos) << resolved.problem;
        }
        struct stat info {};
        if (resolved.path && ::lstat(resolved.path->c_str(), &info) == 0) {
            EXPECT_EQ(info.st_mode & 07777, 0700u);
        }
    }
}

// A socket file whose listener is gone, as a crashed agent leaves it.
void leaveStaleSocket(const std::string& path) {
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{AF_UNIX, {}};
    std::memcpy(address.sun_path, path.c_str(), path.size());
    ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ::close(fd);
}

// Only a stale socket that no other agent is about to replace is replaced; whatever is refused
// stays in place.
TEST(Endpoint, ReplacesAStaleSocketAndNothingElse) {
    enum Existing { staleSocket, staleWhileAnotherStarts, plainFile, liveAgent };
    const struct {
        Existing existing;
        std::optional<ListenerFailure> failure;
    } cases[] = {
        {staleSocket, std::nullopt},
        {staleWhileAnotherStarts, ListenerFailure::alreadyServing},
        {plainFile, ListenerFailure::systemError},
        {liveAgent, ListenerFailure::alreadyServing},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.existing);
        TempDir root;
        const auto path = root / "service";
        leaveStaleSocket(path);
        std::optional<decltype(platform::linux_backend::lockBeside(path))> otherAgent;
        ListenerCreation live;
        if (c.existing == staleWhileAnotherStarts) {
            otherAgent.emplace(platform::linux_backend::lockBeside(path));
        } else if (c.existing == plainFile) {
            ::unlink(path.c_str());
            ::close(::open(path.c_str(), O_CREAT | O_WRONLY, 0600));
        } else if (c.existing == liveAgent) {
            ::unlink(path.c_str());
            live = Listener::atPath(path);
        }
        auto created = Listener::atPath(path);
        EXPECT_EQ(created.failure, c.failure) << created.message;
        EXPECT_EQ(::access(path.c_str(), F_OK), 0);
        created.listener.reset();
        live.listener.reset(); // a listener takes its own socket with it
        EXPECT_EQ(::access(path.c_str(), F_OK) == 0,
                  c.existing == staleWhileAnotherStarts || c.existing == plainFile);
    }
}

TEST(Endpoint, ServiceNamesThatAreNotPlainFileNamesAreRefused) {
    for (const char* name : {"", ".", "..", "../escape", "team/.dev.qorva.brivane"}) {
        EXPECT_EQ(Listener::create(name).failure, ListenerFailure::systemError) << name;
    }
}

TEST(SerialQueue, RunsWorkInOrderOnOneNamedThreadAndDrainsOnDestruction) {
    // Linux keeps 15 bytes of a thread's name.
    EXPECT_EQ(platform::SerialQueue::threadName("a.VeryLongQueueLabelTail"), "VeryLongQueueLa");
    std::vector<int> order;
    char name[16] = {};
    {
        platform::SerialQueue queue("dev.qorva.brivane.SensorCompanion.Storage");
        queue.sync([&] { pthread_getname_np(pthread_self(), name, sizeof name); });
        for (int i = 0; i < 100; ++i) {
            queue.async([&order, i] {
                std::this_thread::sleep_for(std::chrono::microseconds(i % 3));
                order.push_back(i);
            });
        }
    }
    EXPECT_STREQ(name, "Storage");
    std::vector<int> expected(100);
    std::iota(expected.begin(), expected.end(), 0);
    EXPECT_EQ(order, expected);
}

} // namespace
} // namespace brivane::testing
