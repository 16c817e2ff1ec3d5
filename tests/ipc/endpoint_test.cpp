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
    TempDir root;
    const auto uid = ::getuid();
    const auto fallback = root / ("brivane-" + std::to_string(uid));
    const auto resolve = [&](const char* xdg) {
        return resolveRuntimeDirectory(xdg, uid, root.path());
    };
    ::mkdir((root / "xdg").c_str(), 0700);
    ::mkdir((root / "shared").c_str(), 0755);
    EXPECT_EQ(resolve((root / "xdg").c_str()).path, root / "xdg");
    // Relative, shared, missing or unset: the fallback, made 0700.
    for (const auto& xdg : {std::string("xdg"), root / "shared", root / "missing"}) {
        EXPECT_EQ(resolve(xdg.c_str()).path, fallback) << xdg;
    }
    EXPECT_EQ(resolve(nullptr).path, fallback);
    struct stat info {};
    ASSERT_EQ(::lstat(fallback.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0700u);

    // A fallback that others may read, or a symlink, is refused.
    ::chmod(fallback.c_str(), 0750);
    const auto refused = resolve(nullptr);
    EXPECT_FALSE(refused.path);
    EXPECT_NE(refused.problem.find("0700"), std::string::npos) << refused.problem;
    ::rmdir(fallback.c_str());
    ASSERT_EQ(::symlink((root / "xdg").c_str(), fallback.c_str()), 0);
    EXPECT_FALSE(resolve(nullptr).path);
}

// A socket file whose listener is gone, as a crashed agent leaves it.
void leaveStaleSocket(const std::string& path) {
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{AF_UNIX, {}};
    std::memcpy(address.sun_path, path.c_str(), path.size());
    ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ::close(fd);
}

// Only a stale socket no other agent is starting on is replaced; what is refused stays.
TEST(Endpoint, ReplacesAStaleSocketAndNothingElse) {
    TempDir root;
    const auto path = root / "service";
    leaveStaleSocket(path);
    {
        const auto starting = platform::linux_backend::lockBeside(path); // another agent
        ASSERT_TRUE(starting.lock.valid());
        EXPECT_EQ(Listener::atPath(path).failure, ListenerFailure::alreadyServing);
    }
    EXPECT_EQ(::access(path.c_str(), F_OK), 0);
    auto live = Listener::atPath(path);
    ASSERT_TRUE(live.listener) << live.message;
    EXPECT_EQ(Listener::atPath(path).failure, ListenerFailure::alreadyServing);
    EXPECT_EQ(::access(path.c_str(), F_OK), 0);
    live.listener.reset();
    EXPECT_NE(::access(path.c_str(), F_OK), 0); // a listener takes its socket with it

    ::close(::open(path.c_str(), O_CREAT | O_WRONLY, 0600));
    EXPECT_EQ(Listener::atPath(path).failure, ListenerFailure::systemError);
    EXPECT_EQ(::access(path.c_str(), F_OK), 0);
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
