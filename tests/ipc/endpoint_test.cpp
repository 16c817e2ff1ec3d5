#include "ipc_test_support.h"
#include "platform/linux/endpoint_linux.h"
#include "platform/linux/unix_socket_linux.h"
#include "platform/serial_queue.h"

#include <cstring>
#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace brivane::testing {
namespace {

using platform::linux_backend::resolveRuntimeDirectory;

std::string makeDirectory(const std::string& path, mode_t mode) {
    ::mkdir(path.c_str(), 0700);
    ::chmod(path.c_str(), mode);
    return path;
}

TEST(RuntimeDirectory, PrefersAPrivateXdgDirectoryAndOtherwiseFallsBack) {
    TempDir root;
    const auto uid = ::getuid();
    const auto xdg = makeDirectory(root.path() + "/xdg", 0700);
    const auto shared = makeDirectory(root.path() + "/shared", 0755);
    const auto fallback = root.path() + "/brivane-" + std::to_string(uid);

    EXPECT_EQ(resolveRuntimeDirectory(xdg.c_str(), uid, root.path()).path, xdg);

    const struct {
        const char* name;
        const char* xdg;
    } fallingBack[] = {
        {"unset", nullptr},
        {"relative", "xdg"},
        {"shared mode", shared.c_str()},
        {"missing", "/nonexistent/runtime"},
    };
    for (const auto& c : fallingBack) {
        const auto resolved = resolveRuntimeDirectory(c.xdg, uid, root.path());
        EXPECT_EQ(resolved.path, fallback) << c.name;
    }
    struct stat info {};
    ASSERT_EQ(::lstat(fallback.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0700u);
}

TEST(RuntimeDirectory, RefusesAFallbackWithTheWrongModeOrASymlink) {
    TempDir root;
    const auto uid = ::getuid();
    const auto fallback = root.path() + "/brivane-" + std::to_string(uid);

    makeDirectory(fallback, 0750);
    auto resolved = resolveRuntimeDirectory(nullptr, uid, root.path());
    EXPECT_FALSE(resolved.path);
    EXPECT_NE(resolved.problem.find("0700"), std::string::npos);
    ::rmdir(fallback.c_str());

    const auto target = makeDirectory(root.path() + "/elsewhere", 0700);
    ASSERT_EQ(::symlink(target.c_str(), fallback.c_str()), 0);
    EXPECT_FALSE(resolveRuntimeDirectory(nullptr, uid, root.path()).path);
}

// A socket file whose listener is gone, as a crashed agent leaves it.
void leaveStaleSocket(const std::string& path) {
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, path.c_str(), path.size());
    ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ::close(fd);
}

TEST(Endpoint, AStaleSocketIsReplacedAndALiveOneRefused) {
    TempDir root;
    const auto path = root.path() + "/service";
    leaveStaleSocket(path);

    auto first = Listener::atPath(path);
    ASSERT_TRUE(first.listener) << first.message;

    auto second = Listener::atPath(path);
    EXPECT_FALSE(second.listener);
    EXPECT_EQ(second.failure, ListenerFailure::alreadyServing);

    // The live agent's socket survives the failed start-up; it goes with its own listener.
    EXPECT_EQ(::access(path.c_str(), F_OK), 0);
    first.listener.reset();
    EXPECT_NE(::access(path.c_str(), F_OK), 0);
}

TEST(Endpoint, WhileAnotherAgentStartsItsStaleSocketIsLeftToIt) {
    TempDir root;
    const auto path = root.path() + "/service";
    leaveStaleSocket(path);
    const auto other = platform::linux_backend::lockBeside(path);
    ASSERT_TRUE(other.lock.valid());
    EXPECT_EQ(Listener::atPath(path).failure, ListenerFailure::alreadyServing);
    EXPECT_EQ(::access(path.c_str(), F_OK), 0);
}

TEST(Endpoint, NeverReplacesAFileThatIsNotASocket) {
    TempDir root;
    const auto path = root.path() + "/service";
    ::close(::open(path.c_str(), O_CREAT | O_WRONLY, 0600));
    auto created = Listener::atPath(path);
    EXPECT_FALSE(created.listener);
    EXPECT_EQ(created.failure, ListenerFailure::systemError);
    EXPECT_EQ(::access(path.c_str(), F_OK), 0);
}

TEST(Endpoint, ServiceNamesThatAreNotPlainFileNamesAreRefused) {
    for (const char* name : {"", ".", "..", "../escape", "team/.dev.qorva.brivane"}) {
        auto created = Listener::create(name);
        EXPECT_FALSE(created.listener) << name;
        EXPECT_EQ(created.failure, ListenerFailure::systemError) << name;
    }
}

TEST(SerialQueue, RunsWorkInOrderOnOneNamedThreadAndDrainsOnDestruction) {
    // Linux keeps 15 bytes of a thread's name.
    EXPECT_EQ(platform::SerialQueue::threadName("a.VeryLongQueueLabelTail"), "VeryLongQueueLa");
    EXPECT_EQ(platform::SerialQueue::threadName("plain"), "plain");

    std::vector<int> order;
    std::string name;
    {
        platform::SerialQueue queue("dev.qorva.brivane.SensorCompanion.Storage");
        queue.sync([&] {
            char buffer[16] = {};
            pthread_getname_np(pthread_self(), buffer, sizeof buffer);
            name = buffer;
        });
        for (int i = 0; i < 100; ++i) {
            queue.async([&order, i] {
                std::this_thread::sleep_for(std::chrono::microseconds(i % 3));
                order.push_back(i);
            });
        }
    }
    EXPECT_EQ(name, "Storage");
    ASSERT_EQ(order.size(), 100u);
    for (int i = 0; i < 100; ++i) {
        EXPECT_EQ(order[i], i);
    }
}

} // namespace
} // namespace brivane::testing
