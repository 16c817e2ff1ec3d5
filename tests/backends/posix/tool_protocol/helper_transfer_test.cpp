#include "backends/posix/tool_protocol/helper_transfer.h"
#include "support/child_process.h"
#include "support/temp_dir.h"

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <unistd.h>

namespace brivane::platform::posix {
namespace {

// Plays the helper: writes `file` where a download goes, answers with `result`.
struct FakeHelper final : ToolRunner {
    ToolResult run(const ToolRun& run) override {
        runs.push_back(run);
        if (run.arguments.at(0) == "download" && file) {
            std::ofstream(run.arguments.at(2)) << *file;
        }
        return result;
    }
    void stop() override { stopped = true; }

    ToolResult result;
    std::optional<std::string> file;
    std::vector<ToolRun> runs;
    bool stopped = false;
};

class HelperTransferTest : public ::testing::Test {
protected:
    const testing::TempDir downloads{"brivane-downloads"};
    std::shared_ptr<FakeHelper> helper = std::make_shared<FakeHelper>();
    HelperTransfer transfer{std::make_shared<base::SerialQueue>("test.transfer"),
                            {30.0, 60.0, downloads.path()},
                            helper,
                            [](const ToolRun& run) {
                                auto local = run;
                                local.path = "/helper";
                                return std::optional<ToolRun>(local);
                            }};
};

TEST_F(HelperTransferTest, AFetchIsWhatTheHelperReportsAndNothingElse) {
    const std::string answer = "The transfer ended without an answer.";
    const struct Case {
        ToolResult ran;
        std::optional<std::string> error;
        std::optional<std::string> body;
    } cases[] = {
        {{{}, 0, "response 302 https://host/a b\n{}\n"}, {}, "{}\n"},
        {{{}, 0, "error Could not resolve host: host\n"}, "Could not resolve host: host", {}},
        {{{}, 0, "response 200 https://host/a\n" + std::string(6, 'x')}, answer, {}},
        {{{}, 0, "error cut"}, answer, {}},
        {{{}, 9, "response 200 https://host/a\n"}, answer, {}},
        {{"Operation canceled", -1, ""}, "Operation canceled", {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.ran.output);
        helper->result = c.ran;
        const auto fetched = transfer.fetchNow("https://host/a", 4);
        EXPECT_EQ(fetched.error, c.error);
        EXPECT_EQ(fetched.body, c.body);
        EXPECT_EQ(fetched.response.has_value(), c.body.has_value());
    }
    const auto& run = helper->runs.front();
    EXPECT_EQ(run.path, "/helper");
    EXPECT_EQ(run.arguments,
              (std::vector<std::string>{"fetch", "https://host/a", "4", "30.000000", "60.000000"}));
    EXPECT_EQ(run.timeLimit, 65.0);
    EXPECT_EQ(run.environment.policy, ToolEnvironment::Policy::inheritAndSet);
    EXPECT_EQ(run.environment.variables,
              (decltype(run.environment.variables){
                  {std::string(transferParentVariable), std::to_string(::getpid())}}));
}

// The file lives in a folder of its own until the completion returns; a stop ends the helper.
TEST_F(HelperTransferTest, ADownloadIsHandedOverInAFolderOfItsOwnThenRemoved) {
    helper->file = "package";
    helper->result = {{}, 0, "response 200 https://host/p\n"};
    std::optional<std::string> content;
    transfer.downloadNow("https://host/p", 100, [&](DownloadTransferResult result) {
        ASSERT_TRUE(result.response && result.file) << result.error.value_or("");
        EXPECT_EQ(std::filesystem::path(*result.file).parent_path().parent_path(),
                  downloads.path());
        content = testing::readFile(*result.file);
    });
    EXPECT_EQ(content, "package");
    EXPECT_EQ(helper->runs.at(0).arguments.at(3), "100");
    EXPECT_TRUE(std::filesystem::is_empty(downloads.path()));
    transfer.cancel();
    EXPECT_TRUE(helper->stopped);
}

} // namespace
} // namespace brivane::platform::posix
