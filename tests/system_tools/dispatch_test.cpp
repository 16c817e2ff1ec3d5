#include "support/temp_dir.h"
#include "system_tools.h"

#include <cstdlib>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <string>
#include <sys/wait.h>

namespace brivane::system_tools {
namespace {

struct Exit {
    int status = -1;
    std::string error;
};

Exit run(const testing::TempDir& directory, const std::string& commandLine) {
    const std::string errorFile = directory / "stderr";
    const int raw = std::system((commandLine + " 2>'" + errorFile + "' >/dev/null").c_str());
    std::ifstream in(errorFile);
    return {WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, {std::istreambuf_iterator<char>(in), {}}};
}

// The tool is chosen by the name it runs under, else by the first argument; both reach the same
// tool with the same remaining arguments.
TEST(SystemToolsDispatch, ByNameOrFirstArgument) {
    testing::TempDir directory;
    const std::string executable = BRIVANE_SYSTEM_TOOLS;
    for (const char* tool : {"ps", "top", "pmset", "diskutil"}) {
        SCOPED_TRACE(tool);
        directory.symlink(tool, executable);
        const auto byName = run(directory, "'" + (directory / tool) + "' --no-such-option");
        const auto byArgument =
            run(directory, "'" + executable + "' " + tool + " --no-such-option");
        EXPECT_EQ(byName.status, usageError);
        EXPECT_EQ(byArgument.status, byName.status);
        EXPECT_EQ(byArgument.error, byName.error);
    }
    for (const char* line : {"", " nosuchtool", " ''", " /ps"}) {
        SCOPED_TRACE(line);
        const auto unknown = run(directory, "'" + executable + "'" + line);
        EXPECT_EQ(unknown.status, usageError);
        EXPECT_NE(unknown.error.find("usage: brivane-system-tools"), std::string::npos);
    }
}

} // namespace
} // namespace brivane::system_tools
