#include "ipc_test_support.h"
#include "support/child_process.h"

namespace brivane::testing {
namespace {

// The CLI watches on a 40x120 pseudo-terminal and is interrupted two seconds later as Ctrl-C
// would: it redraws in place (or prints JSON lines) until then, and restores the terminal.
TEST(SensorsCliWatch, RedrawsUntilInterruptedAndRestoresTheTerminal) {
    const std::string document =
        R"({"version":2,"temperatures":[{"key":"TC0P","value":41}],"fans":[],"helperUID":1,)"
        R"("helperEffectiveUID":1})";
    auto service = std::make_shared<FakeService>();
    service->immediate = document;
    ServedListener served(service);
    TempDir scratch;
    const struct Case {
        const char* name;
        std::string arguments;
        std::string frame; // once per frame
        std::string first; // what the output starts with
        std::string last;  // what it ends with
    } cases[] = {
        {"view", "--endpoint " + served.path() + " watch --interval 0.1", "TC0P",
         "\x1b[?1049h\x1b[?25l\x1b[?7l\x1b[H", "\x1b[J\x1b[?7h\x1b[?25h\x1b[?1049l"},
        {"JSON lines", "watch --raw --interval=0.1 --endpoint " + served.path(), document + "\r\n",
         document + "\r\n", document + "\r\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto watched =
            runCommand({"script", "-qec",
                        "stty rows 40 cols 120 && exec timeout -s INT --preserve-status 2 " +
                            std::string(BRIVANE_SENSORS_CLI) + " " + c.arguments,
                        "/dev/null"},
                       {"PATH=/usr/bin:/bin"}, scratch / "output", std::chrono::seconds(20));
        EXPECT_EQ(watched.status, 0) << watched.output;
        EXPECT_TRUE(watched.output.starts_with(c.first) && watched.output.ends_with(c.last))
            << watched.output;
        std::size_t frames = 0;
        for (auto at = watched.output.find(c.frame); at != std::string::npos;
             at = watched.output.find(c.frame, at + 1)) {
            ++frames;
        }
        EXPECT_GE(frames, 3u) << watched.output;
    }
}

} // namespace
} // namespace brivane::testing
