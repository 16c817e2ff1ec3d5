#include "backends/posix/tool_protocol/helper_transfer.h"

#include "backends/posix/tool_protocol/transfer_report.h"

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <system_error>
#include <unistd.h>

namespace brivane::platform::posix {
namespace {

constexpr const char* noAnswer = "The transfer ended without an answer.";

std::string seconds(double value) {
    return std::to_string(value);
}

constexpr std::string_view folderPrefix = "download-";

// A private folder holding one download; removed with everything in it.
class TemporaryFolder {
public:
    explicit TemporaryFolder(const std::optional<std::string>& parent) {
        std::error_code error;
        std::filesystem::path base =
            parent ? std::filesystem::path(*parent) : std::filesystem::temp_directory_path(error);
        if (error || (parent && (std::filesystem::create_directories(base, error), error))) {
            return;
        }
        std::string pattern = (base / (std::string(folderPrefix) + "XXXXXX")).string();
        if (::mkdtemp(pattern.data())) { // created with mode 0700
            path_ = pattern;
        }
    }
    ~TemporaryFolder() {
        if (!path_.empty()) {
            std::error_code ignored;
            std::filesystem::remove_all(path_, ignored);
        }
    }
    TemporaryFolder(const TemporaryFolder&) = delete;
    TemporaryFolder& operator=(const TemporaryFolder&) = delete;

    const std::string& path() const { return path_; }

private:
    std::string path_;
};

} // namespace

HelperTransfer::HelperTransfer(std::shared_ptr<base::SerialQueue> delegateQueue,
                               TransferConfiguration configuration,
                               std::shared_ptr<ToolRunner> runner, ToolTranslation helper)
    : queue_(std::move(delegateQueue)), configuration_(std::move(configuration)),
      runner_(std::move(runner)), helper_(std::move(helper)) {}

void HelperTransfer::fetch(const std::string& url, std::size_t bodyLimit,
                           std::function<void(DataTransferResult)> completion) {
    queue_->async([this, url, bodyLimit, completion = std::move(completion)] {
        completion(fetchNow(url, bodyLimit));
    });
}

void HelperTransfer::download(const std::string& url, std::int64_t maximumBytes,
                              std::function<void(DownloadTransferResult)> completion) {
    queue_->async([this, url, maximumBytes, completion = std::move(completion)] {
        downloadNow(url, maximumBytes, completion);
    });
}

void HelperTransfer::cancel() {
    runner_->stop();
}

// The helper's output, or why there is none.
std::optional<std::string> HelperTransfer::runHelper(std::vector<std::string> arguments,
                                                     std::string& output) const {
    arguments.push_back(seconds(configuration_.requestTimeout));
    arguments.push_back(seconds(configuration_.resourceTimeout));
    ToolRun requested;
    requested.arguments = std::move(arguments);
    // Proxies as the agent's own; the spawner named so that the helper can die with it.
    requested.environment = ToolEnvironment::inheritedWith(
        {{std::string(transferParentVariable), std::to_string(::getpid())}});
    requested.timeLimit = configuration_.resourceTimeout + helperMargin;
    requested.qos = WatchdogQoS::standard;
    const auto local = helper_(requested);
    if (!local) {
        return std::string(noAnswer);
    }
    auto result = runner_->run(*local);
    if (result.launchError) {
        return std::move(result.launchError);
    }
    if (result.terminationStatus != 0) {
        return std::string(noAnswer);
    }
    output = std::move(result.output);
    return std::nullopt;
}

DataTransferResult HelperTransfer::fetchNow(const std::string& url, std::size_t bodyLimit) const {
    DataTransferResult result;
    std::string output;
    if (auto problem = runHelper({"fetch", url, std::to_string(bodyLimit)}, output)) {
        result.error = std::move(problem);
        return result;
    }
    auto report = parseTransferReport(output);
    if (!report || (report->response && report->body.size() > bodyLimit + 1)) {
        result.error = noAnswer;
    } else if (report->error) {
        result.error = std::move(report->error);
    } else {
        result.response = std::move(report->response);
        result.body = std::move(report->body);
    }
    return result;
}

void HelperTransfer::downloadNow(
    const std::string& url, std::int64_t maximumBytes,
    const std::function<void(DownloadTransferResult)>& completion) const {
    DownloadTransferResult result;
    const TemporaryFolder folder(configuration_.downloadDirectory);
    if (folder.path().empty()) {
        result.error = "The download could not be prepared: " +
                       std::error_code(errno, std::generic_category()).message();
        completion(std::move(result));
        return;
    }
    const std::string path = folder.path() + "/download";
    std::string output;
    if (auto problem = runHelper({"download", url, path, std::to_string(maximumBytes)}, output)) {
        result.error = std::move(problem);
    } else if (auto report = parseTransferReport(output); !report || !report->body.empty()) {
        result.error = noAnswer;
    } else if (report->error) {
        result.error = std::move(report->error);
    } else {
        result.response = std::move(report->response);
        result.file = path;
    }
    completion(std::move(result));
}

} // namespace brivane::platform::posix

namespace brivane::platform {

void removeLeftoverDownloads(const TransferConfiguration& configuration) {
    if (!configuration.downloadDirectory) {
        return;
    }
    std::error_code error;
    for (std::filesystem::directory_iterator entry(*configuration.downloadDirectory, error), end;
         !error && entry != end; entry.increment(error)) {
        // Folders only, never what a link points to.
        if (entry->path().filename().string().starts_with(posix::folderPrefix) &&
            entry->symlink_status(error).type() == std::filesystem::file_type::directory) {
            std::error_code ignored;
            std::filesystem::remove_all(entry->path(), ignored);
        }
    }
}

} // namespace brivane::platform
