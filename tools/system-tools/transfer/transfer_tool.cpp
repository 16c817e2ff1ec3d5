#include "transfer_tool.h"

#include "backends/posix/tool_protocol/helper_transfer.h"
#include "backends/posix/tool_protocol/transfer_report.h"
#include "base/whole_number.h"
#include "curl_transfer.h"
#include "system-tools/system_tools.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <sys/prctl.h>
#include <unistd.h>

namespace brivane::system_tools {
namespace {

constexpr std::string_view synopsis =
    "brivane-system-tools transfer fetch URL BODY-LIMIT REQUEST-TIMEOUT RESOURCE-TIMEOUT\n"
    "       brivane-system-tools transfer download URL FILE MAXIMUM-BYTES REQUEST-TIMEOUT "
    "RESOURCE-TIMEOUT";

std::optional<platform::TransferConfiguration> timeouts(const std::string& request,
                                                        const std::string& resource) {
    const auto idle = base::wholeNumber<double>(request);
    const auto whole = base::wholeNumber<double>(resource);
    if (!idle || !whole || !(*idle > 0) || !(*whole > 0)) {
        return std::nullopt;
    }
    return platform::TransferConfiguration{*idle, *whole, std::nullopt};
}

int report(const platform::posix::TransferReport& report) {
    return printed(platform::posix::transferReportHead(report) + report.body);
}

// A helper whose agent was killed would go on transferring into a folder nobody removes. The
// kernel ends it with its parent from here on; a parent that died before that has been
// replaced already, which the check after shows.
bool bindToParent() {
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    const char* parent = std::getenv(std::string(platform::posix::transferParentVariable).c_str());
    return parent == nullptr || std::to_string(::getppid()) == parent;
}

} // namespace

int runTransfer(std::span<const std::string> args) {
    if (!bindToParent()) {
        return 1;
    }
    if (args.size() == 5 && args[0] == "fetch") {
        const auto limit = base::wholeNumber<std::size_t>(args[2]);
        const auto configuration = timeouts(args[3], args[4]);
        if (!limit || !configuration) {
            return usage(synopsis);
        }
        auto fetched = curlFetch(args[1], *limit, *configuration);
        return report({std::move(fetched.error), std::move(fetched.response),
                       std::move(fetched.body).value_or("")});
    }
    if (args.size() == 6 && args[0] == "download") {
        const auto maximum = base::wholeNumber<std::int64_t>(args[3]);
        const auto configuration = timeouts(args[4], args[5]);
        if (!maximum || !configuration) {
            return usage(synopsis);
        }
        auto downloaded = curlDownload(args[1], args[2], *maximum, *configuration);
        if (downloaded.error) {
            // Nothing half-written stays behind; the failure is reported either way.
            (void)std::remove(args[2].c_str());
        }
        return report({std::move(downloaded.error), std::move(downloaded.response), {}});
    }
    return usage(synopsis);
}

} // namespace brivane::system_tools
