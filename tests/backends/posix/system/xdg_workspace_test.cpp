#include "backends/posix/system/xdg_workspace.h"
#include "support/child_process.h"
#include "support/temp_dir.h"

#include <chrono>
#include <filesystem>
#include <fstream>
#include <future>
#include <gtest/gtest.h>
#include <unistd.h>

namespace brivane {
namespace {

using namespace brivane::platform;
using namespace brivane::platform::posix;

// Opens through a stand-in opener; returns the verdict and how long open() itself took.
std::pair<std::optional<bool>, double> openWith(std::vector<std::string> openers,
                                                const std::string& file, double limit) {
    XdgWorkspace workspace(std::move(openers), limit);
    auto verdict = std::make_shared<std::promise<bool>>();
    auto future = verdict->get_future();
    const auto start = std::chrono::steady_clock::now();
    workspace.open(file, [verdict](bool opened) { verdict->set_value(opened); });
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
    if (future.wait_for(std::chrono::seconds(10)) != std::future_status::ready)
        return {std::nullopt, took.count()};
    return {future.get(), took.count()};
}

// The verdict is whether the opener started and exited zero; it runs detached, in a session of
// its own, and outlives its limit.
TEST(XdgWorkspace, ReportsTheOpenersVerdictAndLeavesItRunningDetached) {
    const testing::TempDir temp("brivane-opener");
    temp.write("ok", "#!/bin/sh\nexit 0\n", 0755);
    temp.write("fails", "#!/bin/sh\nexit 3\n", 0755);
    temp.write("not-executable", "#!/bin/sh\nexit 0\n", 0644);
    struct Case {
        std::vector<std::string> openers;
        bool opened;
    };
    const Case cases[] = {
        {{temp / "ok"}, true},
        {{temp / "missing", temp / "ok"}, true},
        {{temp / "fails"}, false},
        {{temp / "not-executable"}, false},
        {{}, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.openers.empty() ? "none" : c.openers.back());
        EXPECT_EQ(openWith(c.openers, temp / "package.pkg", 5).first, c.opened);
    }
    // Records its pid and session, then keeps "showing" the file well past the limit.
    temp.write("slow",
               "#!/bin/sh\nf=$1\nset -- $(cat /proc/$$/stat)\necho \"$1 $6\" > \"$f.ids\"\n"
               "sleep 1\ntouch \"$f.survived\"\n",
               0755);
    const auto [opened, took] = openWith({temp / "slow"}, temp / "package.pkg", 0.2);
    EXPECT_LT(took, 0.15);
    EXPECT_EQ(opened, true);

    std::ifstream ids(temp / "package.pkg.ids");
    pid_t pid = 0, session = 0;
    ASSERT_TRUE(ids >> pid >> session);
    EXPECT_EQ(session, pid);
    EXPECT_NE(session, ::getsid(0));
    EXPECT_TRUE(testing::pollUntil(std::chrono::seconds(5), [&] {
        return std::filesystem::exists(temp / "package.pkg.survived");
    }));
}

} // namespace
} // namespace brivane
