#include "watch.h"

#include "terminal_text.h"

#include <chrono>
#include <csignal>
#include <cstdio>
#include <ctime>
#include <sys/ioctl.h>
#include <thread>
#include <unistd.h>

namespace brivane::cli {
namespace {

volatile std::sig_atomic_t stopRequested = 0;
// What restores the terminal, written by the signal handler too; set before it is installed.
std::string leaveScreen;
volatile std::sig_atomic_t onTerminal = 0;

// The first signal ends the loop after the current frame; a second one (the agent may take up
// to the request timeout to answer) leaves at once, restoring the terminal first.
extern "C" void onStopSignal(int) {
    if (stopRequested) {
        if (onTerminal) {
            [[maybe_unused]] const auto ignored =
                ::write(STDOUT_FILENO, leaveScreen.data(), leaveScreen.size());
        }
        ::_exit(130);
    }
    stopRequested = 1;
}

void installStopHandlers() {
    struct sigaction action {};
    action.sa_handler = onStopSignal;
    sigemptyset(&action.sa_mask);
    for (const int signal : {SIGINT, SIGTERM, SIGHUP}) {
        ::sigaction(signal, &action, nullptr);
    }
}

// A frame that cannot be written is dropped; the next one tries again.
void writeOut(std::string_view bytes) {
    (void)std::fwrite(bytes.data(), 1, bytes.size(), stdout);
    (void)std::fflush(stdout);
}

int terminalRows() {
    winsize size{};
    return ::ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_row > 0 ? size.ws_row : 24;
}

// Ctrl-C is offered only to someone at a terminal.
std::string header(const CliOptions& options, const std::string& request, bool atTerminal) {
    char clock[16] = "";
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    if (::localtime_r(&now, &local)) {
        std::strftime(clock, sizeof clock, "%H:%M:%S", &local);
    }
    const int interval = options.intervalMs.value_or(defaultWatchIntervalMs);
    char seconds[32];
    std::snprintf(seconds, sizeof seconds, "%g", interval / 1000.0);
    return "Every " + std::string(seconds) + " s: brivane-sensors " + terminalSafe(request) +
           "    " + clock + (atTerminal ? "  (Ctrl-C ends)" : "");
}

// Sleeps until the deadline in short steps, so a stop request is seen promptly.
void waitUntil(std::chrono::steady_clock::time_point deadline) {
    while (!stopRequested && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::min<std::chrono::steady_clock::duration>(
            std::chrono::milliseconds(50), deadline - std::chrono::steady_clock::now()));
    }
}

} // namespace

std::string redrawSequence(std::string_view header, std::string_view body, int rows,
                           const Terminal& terminal) {
    std::string out = terminal.home;
    int written = 0;
    auto line = [&](std::string_view text) {
        if (written < rows) {
            out.append(written == 0 ? "" : "\n").append(text).append(terminal.clearLine);
            ++written;
        }
    };
    line(header);
    line("");
    while (!body.empty()) {
        const auto end = body.find('\n');
        line(body.substr(0, end));
        body = end == std::string_view::npos ? std::string_view() : body.substr(end + 1);
    }
    return out + terminal.clearBelow;
}

int runWatch(const CliOptions& options, const Terminal& screen, const AskAgain& ask,
             const RenderView& render, const std::string& undecodable) {
    const bool terminal = !options.raw && !options.json && screen.canRedraw();
    // Alternate screen, cursor hidden, no line wrapping (a wrapped line would push the frame
    // down), as far as the terminal has them.
    leaveScreen = screen.wrap + screen.showCursor + screen.leaveScreen;
    onTerminal = terminal;
    installStopHandlers();
    if (terminal) {
        writeOut(screen.enterScreen + screen.hideCursor + screen.noWrap);
    }
    const auto interval =
        std::chrono::milliseconds(options.intervalMs.value_or(defaultWatchIntervalMs));
    auto next = std::chrono::steady_clock::now();
    while (!stopRequested) {
        next += interval;
        const WatchAnswer answer = ask();
        if (stopRequested) {
            break;
        }
        const auto shown = answer.answered ? render(answer.text) : RenderedView{{}, false};
        const std::string& problem = answer.answered ? undecodable : answer.text;
        if (options.raw || options.json) {
            writeOut(shown.text + (options.raw && shown.decoded ? "\n" : ""));
            if (!shown.decoded) {
                printProblem(problem);
            }
        } else {
            const std::string body = shown.decoded ? shown.text : terminalSafe(problem) + "\n";
            const std::string title = header(options, requestText(options), screen.isTerminal);
            writeOut(terminal ? redrawSequence(title, body, terminalRows(), screen)
                              : title + "\n\n" + body + "\n");
        }
        // A steady rhythm; after a slow answer the next request follows at once, never a burst.
        next = std::max(next, std::chrono::steady_clock::now());
        waitUntil(next);
    }
    if (terminal) {
        writeOut(leaveScreen);
    }
    return 0;
}

} // namespace brivane::cli
