#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace brivane::base {
class SerialQueue;
} // namespace brivane::base

namespace brivane::platform {

// What an HTTP exchange answered: the status and the address it ended at after redirects.
struct TransferResponse {
    long statusCode = 0;
    std::string finalURL;
};

// A transfer into memory. A body longer than the requested limit is cut at limit + 1 bytes
// and the transfer stopped there, so the caller sees that it was too long without the rest
// being read.
struct DataTransferResult {
    std::optional<std::string> error; // description of a transport failure
    std::optional<TransferResponse> response;
    std::optional<std::string> body;
};

// A transfer into a temporary file, which exists only until the completion returns.
struct DownloadTransferResult {
    std::optional<std::string> error;
    std::optional<TransferResponse> response;
    std::optional<std::string> file;
};

// HTTPS transfers with nothing persisted (no cookies, cache or credentials). Each transfer
// completes exactly once, on the delegate queue the object was made with; calls return at once.
// The agent's own back end runs each transfer in a helper process, so the long-running agent
// links no network library.
class Transfer {
public:
    virtual ~Transfer() = default;
    virtual void fetch(const std::string& url, std::size_t bodyLimit,
                       std::function<void(DataTransferResult)> completion) = 0;
    // Cancelled as soon as the announced total or the bytes received exceed maximumBytes (an
    // unannounced total passes).
    virtual void download(const std::string& url, std::int64_t maximumBytes,
                          std::function<void(DownloadTransferResult)> completion) = 0;
    // The process is stopping: transfers in progress end at once with an error, later ones
    // fail at once.
    virtual void cancel() {}
};

struct TransferConfiguration {
    double requestTimeout = 30.0;  // seconds without progress
    double resourceTimeout = 60.0; // seconds for a whole transfer
    // Where downloads are written while they are in flight; the system's temporary folder
    // when absent.
    std::optional<std::string> downloadDirectory;
};

std::unique_ptr<Transfer> makeDefaultTransfer(std::shared_ptr<base::SerialQueue> delegateQueue,
                                              TransferConfiguration configuration);

// Removes the download folders an earlier process left in configuration.downloadDirectory
// (killed before it could). Only for the folder's sole user, before its first transfer.
void removeLeftoverDownloads(const TransferConfiguration& configuration);

} // namespace brivane::platform
