#include "metrics_commands.h"

#include "metrics_text.h"
#include "snapshot_sharing.h"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <iostream>
#include <sys/stat.h>
#include <unistd.h>

namespace brivane::cli {
int runMetrics(const CliOptions& options) {
    AgentSnapshots agent{AgentConnection(options)};
    const auto start = std::chrono::steady_clock::now();
    const auto fetched = agent.fetch();
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
    const auto text =
        exposition(metricFamilies(fetched.snapshot ? &*fetched.snapshot : nullptr, took.count()));

    if (options.output) {
        std::string problem;
        if (!writeFileAtomically(*options.output, text, problem)) {
            std::cerr << "brivane-sensors: cannot write " << *options.output << ": " << problem
                      << "\n";
            return notWritten;
        }
    } else {
        std::fwrite(text.data(), 1, text.size(), stdout);
        if (std::fflush(stdout) != 0) {
            return notWritten;
        }
    }
    if (fetched.status != answered) {
        std::cerr << "brivane-sensors: " << fetched.problem << "\n";
    }
    return fetched.status;
}

bool writeFileAtomically(const std::string& path, std::string_view text, std::string& problem) {
    const std::filesystem::path target(path);
    std::filesystem::path directory = target.parent_path();
    if (directory.empty()) {
        directory = ".";
    }
    // Hidden and without the target's extension, so a collector never reads it half written.
    std::string temporary = (directory / ("." + target.filename().string() + ".XXXXXX")).string();
    const int fd = ::mkostemp(temporary.data(), O_CLOEXEC);
    if (fd < 0) {
        problem = std::strerror(errno);
        return false;
    }
    int error = ::fchmod(fd, 0644) == 0 ? 0 : errno;
    for (std::size_t done = 0; error == 0 && done < text.size();) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n > 0) {
            done += static_cast<std::size_t>(n);
        } else if (n == 0 || errno != EINTR) {
            error = n == 0 ? EIO : errno;
        }
    }
    if (error == 0 && ::fsync(fd) != 0) {
        error = errno;
    }
    if (::close(fd) != 0 && error == 0) {
        error = errno;
    }
    if (error == 0 && ::rename(temporary.c_str(), path.c_str()) != 0) {
        error = errno;
    }
    if (error == 0) {
        return true;
    }
    problem = std::strerror(error);
    ::unlink(temporary.c_str());
    return false;
}

} // namespace brivane::cli
