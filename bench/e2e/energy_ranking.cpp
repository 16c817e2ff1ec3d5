// Wall time of the energy ranking end to end: the client CLI asks the Linux agent, which runs
// the process-monitor stand-in (two samples a second apart) and replies.
//
//   energy_ranking_e2e [REQUESTS]      (default 5; as root, the agent runs as nobody)
#include "support/staged_agent.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

int main(int argc, char** argv) {
    using brivane::testing::StagedAgent;
    const int requests = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
    StagedAgent staged({.bundle = BRIVANE_LINUX_BUNDLE, .executables = {BRIVANE_CLI}});
    if (!staged.startAgent()) {
        std::fprintf(stderr, "the agent did not start\n");
        return 1;
    }
    std::vector<double> seconds;
    std::size_t listed = 0;
    for (int i = 0; i < requests; ++i) {
        const auto start = std::chrono::steady_clock::now();
        const auto reply = staged.cli({"--raw", "processes", "energy"});
        seconds.push_back(
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
        if (reply.status != 0) {
            std::fprintf(stderr, "request %d failed with status %d\n", i, reply.status);
            return 1;
        }
        listed =
            static_cast<std::size_t>(std::count(reply.output.begin(), reply.output.end(), '{') - 1);
    }
    std::sort(seconds.begin(), seconds.end());
    std::printf("energy ranking, %d requests: min %.3f s, median %.3f s, max %.3f s; %zu "
                "processes ranked\n",
                requests, seconds.front(), seconds[seconds.size() / 2], seconds.back(), listed);
    return 0;
}
