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
    int frames = 0;
};

int occurrences(const std::string& text, const std::string& part) {
    int count = 0;
    for (auto at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) {
        ++count;
    }
    return count;
}

// Runs the CLI on a pseudo-terminal until it has drawn `frames` frames (counted by marker),
// interrupts it as Ctrl-C would and collects everything it wrote until it exited.
Watched watchUnderTerminal(std::vector<std::string> arguments, const std::string& marker,
                           int frames) {
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
    bool interrupted = false;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (std::chrono::steady_clock::now() < deadline) {
        if (!interrupted && occurrences(watched.output, marker) >= frames) {
            watched.frames = occurrences(watched.output, marker);
            ::kill(pid, SIGINT);
            interrupted = true;
        }
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
    }
    int status = 0;
    if (!interrupted) {
        ::kill(pid, SIGKILL);
    }
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
        std::string marker; // once per frame
        std::string first;  // what the output starts with
        std::string last;   // what it ends with
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
        const auto watched = watchUnderTerminal(c.arguments, c.marker, 3);
        EXPECT_EQ(watched.status, 0);
        EXPECT_GE(watched.frames, 3) << watched.output;
        EXPECT_TRUE(watched.output.starts_with(c.first)) << watched.output;
        EXPECT_TRUE(watched.output.ends_with(c.last)) << watched.output;
    }
}

} // namespace
} // namespace brivane::testing
