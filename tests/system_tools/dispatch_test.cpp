#include "support/temp_dir.h"
#include "system_tools.h"

#include <cstdlib>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <string>
#include <sys/wait.h>
#include <utility>

namespace brivane::system_tools {
namespace {

// Exit status and stderr of a shell command line.
std::pair<int, std::string> run(const testing::TempDir& directory, const std::string& line) {
    const int raw = std::system((line + " 2>'" + (directory / "err") + "' >/dev/null").c_str());
    std::ifstream in(directory / "err");
    return {WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, {std::istreambuf_iterator<char>(in), {}}};
}

// The tool is the name it runs under, else the first argument, with the same remaining
// arguments either way; anything else is a usage error.
TEST(SystemToolsDispatch, ByNameOrFirstArgument) {
    testing::TempDir directory;
    const std::string executable = "'" BRIVANE_SYSTEM_TOOLS "'";
    for (const char* tool : {"ps", "top", "pmset", "diskutil"}) {
        SCOPED_TRACE(tool);
        directory.symlink(tool, BRIVANE_SYSTEM_TOOLS);
        const auto byName = run(directory, "'" + (directory / tool) + "' --no-such-option");
        EXPECT_EQ(byName.first, usageError);
        EXPECT_EQ(run(directory, executable + " " + tool + " --no-such-option"), byName);
    }
    for (const char* line : {"", " nosuchtool", " /ps"}) {
        SCOPED_TRACE(line);
        const auto [status, error] = run(directory, executable + line);
        EXPECT_EQ(status, usageError);
        EXPECT_NE(error.find("usage: brivane-system-tools"), std::string::npos);
    }
}

} // namespace
} // namespace brivane::system_tools
