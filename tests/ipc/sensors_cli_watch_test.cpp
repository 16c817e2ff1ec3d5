#include "ipc_test_support.h"

#include <csignal>
#include <poll.h>
#include <pty.h>
#include <sys/wait.h>
#include <unistd.h>

namespace brivane::testing {
namespace {

struct Watched {
    int status = -1;
    std::string output;
};

// Runs the CLI on a pseudo-terminal until `marker` has appeared three times (three frames),
// interrupts it as Ctrl-C would and collects everything it wrote until it exited.
Watched watchUnderTerminal(std::vector<std::string> arguments, const std::string& marker) {
    winsize size{};
    size.ws_row = 40;
    size.ws_col = 120;
    int terminal = -1;
    const pid_t pid = ::forkpty(&terminal, nullptr, nullptr, &size);
    if (pid == 0) {
        std::vector<char*> argv;
        for (auto& argument : arguments) {
            argv.push_back(argument.data());
        }
        argv.push_back(nullptr);
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    Watched watched;
    if (pid < 0) {
        return watched;
    }
    int frames = 0;
    std::size_t scanned = 0;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (std::chrono::steady_clock::now() < deadline) {
        pollfd entry{terminal, POLLIN, 0};
        if (::poll(&entry, 1, 100) <= 0) {
            continue;
        }
        char buffer[4096];
        const auto got = ::read(terminal, buffer, sizeof buffer);
        if (got <= 0) {
            break; // EIO once the child has exited and closed its side
        }
        watched.output.append(buffer, static_cast<std::size_t>(got));
        for (auto at = watched.output.find(marker, scanned); frames < 3 && at != std::string::npos;
             at = watched.output.find(marker, scanned)) {
            scanned = at + marker.size();
            if (++frames == 3) {
                ::kill(pid, SIGINT);
            }
        }
    }
    if (frames < 3) {
        ::kill(pid, SIGKILL);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    ::close(terminal);
    watched.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return watched;
}

TEST(SensorsCliWatch, RedrawsUntilInterruptedAndRestoresTheTerminal) {
    const std::string document =
        R"({"version":2,"temperatures":[{"key":"TC0P","value":41}],"fans":[],"helperUID":1,)"
        R"("helperEffectiveUID":1})";
    auto service = std::make_shared<FakeService>();
    service->immediate = document;
    ServedListener served(service);
    const std::string cli = BRIVANE_SENSORS_CLI;
    const struct Case {
        const char* name;
        std::vector<std::string> arguments;
        std::string frame; // once per frame
        std::string first; // what the output starts with
        std::string last;  // what it ends with
    } cases[] = {
        {"view",
         {cli, "--endpoint", served.path(), "watch", "--interval", "0.1"},
         "TC0P",
         "\x1b[?1049h\x1b[?25l\x1b[?7l\x1b[H",
         "\x1b[J\x1b[?7h\x1b[?25h\x1b[?1049l"},
        {"JSON lines",
         {cli, "watch", "--raw", "--interval=0.1", "--endpoint", served.path()},
         document + "\r\n",
         document + "\r\n",
         document + "\r\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto watched = watchUnderTerminal(c.arguments, c.frame);
        EXPECT_EQ(watched.status, 0) << watched.output;
        EXPECT_TRUE(watched.output.starts_with(c.first)) << watched.output;
        EXPECT_TRUE(watched.output.ends_with(c.last)) << watched.output;
    }
}

} // namespace
} // namespace brivane::testing
