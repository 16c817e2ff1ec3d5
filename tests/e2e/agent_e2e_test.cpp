#include "e2e/child_process.h"
#include "formats/document_codec.h"
#include "platform/linux/bundle_info_linux.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <pwd.h>
#include <signal.h>
#include <stdlib.h>
#include <thread>
#include <unistd.h>

namespace brivane::e2e {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

constexpr auto startLimit = 10s;

// One staged installation per test: a copy of the simulated bundle, the CLI and the test
// client in a temporary folder the agent's user can read, with its own home and runtime
// directory. As root, the agent and its clients run as "nobody" through setpriv; as an
// ordinary user, they run as that user.
class AgentEndToEnd : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/brivane-e2e.XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        stage_ = pattern;
        fs::permissions(stage_, fs::perms(0755));
        fs::copy(BRIVANE_E2E_BUNDLE, stage_ / "app", fs::copy_options::recursive);
        for (const fs::path& source : {fs::path(BRIVANE_E2E_CLI), fs::path(BRIVANE_E2E_CLIENT),
                                       fs::path(BRIVANE_E2E_BARE_AGENT)}) {
            fs::copy(source, stage_ / source.filename());
            if (fs::exists(source.string() + ".sig")) {
                fs::copy(source.string() + ".sig", stage_ / (source.filename().string() + ".sig"));
            }
        }
        fs::create_directory(stage_ / "home");
        fs::create_directory(stage_ / "run");
        fs::permissions(stage_ / "home", fs::perms(0700));
        fs::permissions(stage_ / "run", fs::perms(0700));
        if (isRoot()) {
            const passwd* nobody = getpwnam("nobody");
            ASSERT_NE(nobody, nullptr);
            uid_ = nobody->pw_uid;
            gid_ = nobody->pw_gid;
            for (const auto* folder : {"home", "run"}) {
                ASSERT_EQ(chown((stage_ / folder).c_str(), uid_, gid_), 0);
            }
        }
        const auto info =
            platform::linux_backend::infoDictionaryFromFile(stage_ / "app/Contents/Info.plist");
        const auto team = info->stringValue("BrivaneTeamIdentifier");
        ASSERT_TRUE(team.has_value());
        endpoint_ = (stage_ / "run" / (*team + ".dev.qorva.brivane.sensors.snapshot")).string();
    }

    void TearDown() override {
        agents_.clear();
        std::error_code ignored;
        fs::remove_all(stage_, ignored);
    }

    static bool isRoot() { return geteuid() == 0; }

    std::vector<std::string> environment() const {
        return {"HOME=" + (stage_ / "home").string(),
                "XDG_RUNTIME_DIR=" + (stage_ / "run").string(),
                "PATH=/usr/sbin:/usr/bin:/sbin:/bin"};
    }

    // argv run as the agent's user.
    std::vector<std::string> asAgentUser(std::vector<std::string> argv) const {
        if (!isRoot()) {
            return argv;
        }
        std::vector<std::string> wrapped = {"setpriv", "--reuid=" + std::to_string(uid_),
                                            "--regid=" + std::to_string(gid_), "--clear-groups"};
        wrapped.insert(wrapped.end(), argv.begin(), argv.end());
        return wrapped;
    }

    std::string agentExecutable() const {
        return (stage_ / "app/Contents/MacOS/brivane-sensor-companion").string();
    }

    std::string scratch() { return (stage_ / ("out" + std::to_string(++outputs_))).string(); }

    ChildProcess& launchAgent() {
        agents_.push_back(std::make_unique<ChildProcess>(
            asAgentUser({agentExecutable(), "--agent"}), environment(), scratch()));
        return *agents_.back();
    }

    // Starts an agent and waits until it accepts connections.
    ChildProcess& startAgent() {
        auto& agent = launchAgent();
        const auto deadline = std::chrono::steady_clock::now() + startLimit;
        while (std::chrono::steady_clock::now() < deadline && agent.running()) {
            if (client("snapshot").status == 0) {
                return agent;
            }
            std::this_thread::sleep_for(100ms);
        }
        ADD_FAILURE() << "the agent did not come up";
        return agent;
    }

    CommandResult cli(std::vector<std::string> arguments) {
        arguments.insert(arguments.begin(),
                         {(stage_ / "brivane-sensors").string(), "--endpoint", endpoint_});
        return runCommand(asAgentUser(arguments), environment(), scratch());
    }

    CommandResult client(const std::string& scenario, bool asAgent = true) {
        std::vector<std::string> argv = {(stage_ / "brivane-e2e-client").string(), endpoint_,
                                         scenario};
        return runCommand(asAgent ? asAgentUser(argv) : argv, environment(), scratch());
    }

    fs::path stage_;
    std::string endpoint_;
    uid_t uid_ = getuid();
    gid_t gid_ = getgid();
    int outputs_ = 0;
    std::vector<std::unique_ptr<ChildProcess>> agents_;
};

TEST_F(AgentEndToEnd, TheCLIGetsEveryKindOfAnswer) {
    startAgent();
    const auto snapshot = cli({"--raw", "snapshot"});
    ASSERT_EQ(snapshot.status, 0);
    const auto document = decodeSensorSnapshot(snapshot.output);
    ASSERT_TRUE(document.has_value()) << snapshot.output;
    EXPECT_EQ(document->helperUID, uid_);
    EXPECT_FALSE(document->temperatures.empty());
    EXPECT_TRUE(document->graphics.has_value());
    EXPECT_TRUE(document->companionVersion.has_value());

    const std::vector<std::pair<std::vector<std::string>, int>> requests = {
        {{"cpu"}, 0},
        {{"processes", "memory"}, 0},
        {{"processes", "storage"}, 0},
        {{"storage", "disk0"}, 0},
        {{"processes", "Memory"}, 3},
        {{"storage", "/dev/disk0"}, 3},
        {{"manage", "checkForUpdate"}, 3},
    };
    for (const auto& [arguments, status] : requests) {
        EXPECT_EQ(cli(arguments).status, status) << arguments.front() << ' ' << arguments.back();
    }
}

TEST_F(AgentEndToEnd, PipelinedRequestsAreAnsweredOnceEachAndMatchedById) {
    startAgent();
    const auto result = client("pipeline");
    EXPECT_EQ(result.status, 0) << result.output;
}

TEST_F(AgentEndToEnd, AMalformedFrameClosesOnlyItsOwnConnection) {
    auto& agent = startAgent();
    const auto result = client("malformed");
    EXPECT_EQ(result.status, 0) << result.output;
    EXPECT_TRUE(agent.running());
}

TEST_F(AgentEndToEnd, APeerOfAnotherUserIsRefused) {
    if (!isRoot()) {
        GTEST_SKIP() << "needs a second user";
    }
    startAgent();
    const auto result = client("refused", false);
    EXPECT_EQ(result.status, 0) << result.output;
}

TEST_F(AgentEndToEnd, ASecondAgentOnTheSameEndpointExitsTwo) {
    auto& first = startAgent();
    auto& second = launchAgent();
    EXPECT_EQ(second.waitForExit(startLimit), 2);
    EXPECT_TRUE(first.running());
    EXPECT_EQ(client("snapshot").status, 0);
}

TEST_F(AgentEndToEnd, AStaleSocketIsReplaced) {
    auto& first = startAgent();
    first.kill(SIGKILL);
    ASSERT_TRUE(first.waitForExit(startLimit).has_value());
    ASSERT_TRUE(fs::exists(endpoint_)) << "a killed agent leaves its socket file";
    auto& second = startAgent();
    EXPECT_TRUE(second.running());
}

TEST_F(AgentEndToEnd, TheAgentRefusesToStartWithoutItsPreconditions) {
    const auto bare = (stage_ / fs::path(BRIVANE_E2E_BARE_AGENT).filename()).string();
    EXPECT_EQ(
        runCommand(asAgentUser({bare, "--agent"}), environment(), scratch(), startLimit).status, 2)
        << "outside a bundle there is no team identifier";
    if (isRoot()) {
        EXPECT_EQ(
            runCommand({agentExecutable(), "--agent"}, environment(), scratch(), startLimit).status,
            2)
            << "root";
    }
    EXPECT_EQ(runCommand(asAgentUser({agentExecutable(), "--agent", "--status"}), environment(),
                         scratch(), startLimit)
                  .status,
              2);
    EXPECT_FALSE(fs::exists(endpoint_));
}

} // namespace
} // namespace brivane::e2e
