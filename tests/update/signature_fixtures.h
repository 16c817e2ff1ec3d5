#pragma once

#include "platform/linux/tool_runner_linux.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <map>
#include <string>

namespace brivane::testing {

inline std::string readText(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Runs a command line made only of our own paths; returns the exit status.
inline int runCommand(const std::string& command) {
    const int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

inline const std::filesystem::path developmentCertificates{BRIVANE_TEST_DEVELOPMENT_CERTIFICATES};
inline const std::string codesignTool{BRIVANE_TEST_CODESIGN};

// Signs payload into a package with one of the certificates in folder ("installer" or "team").
inline std::filesystem::path makePackage(const std::filesystem::path& folder,
                                         const std::string& kind, const std::string& payload,
                                         const std::filesystem::path& out) {
    const auto payloadFile = out.string() + ".payload";
    std::ofstream(payloadFile, std::ios::binary) << payload;
    const int status =
        runCommand(codesignTool + " package --certificate '" + (folder / (kind + ".pem")).string() +
                   "' --key '" + (folder / (kind + "-key.pem")).string() + "' '" + payloadFile +
                   "' '" + out.string() + "'");
    EXPECT_EQ(status, 0);
    std::filesystem::remove(payloadFile);
    return out;
}

// The real Linux runner, with the package and policy tools replaced by the given programs
// (the first word is the executable, the rest is put before the requested arguments).
class RedirectingToolRunner final : public platform::ToolRunner {
public:
    explicit RedirectingToolRunner(std::map<std::string, std::vector<std::string>> replacements)
        : replacements_(std::move(replacements)) {}

    platform::ToolResult run(const platform::ToolRun& request) override {
        platform::ToolRun local = request;
        if (const auto found = replacements_.find(request.path); found != replacements_.end()) {
            local.path = found->second.front();
            local.arguments.insert(local.arguments.begin(), found->second.begin() + 1,
                                   found->second.end());
        }
        return platform::linux_backend::LinuxToolRunner::spawn(local);
    }

private:
    std::map<std::string, std::vector<std::string>> replacements_;
};

} // namespace brivane::testing
