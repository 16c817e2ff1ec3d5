#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace brivane::platform {

class SerialQueue;

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

// Bytes received so far and the announced total (-1 when unannounced); false cancels.
using DownloadProgress = std::function<bool(std::int64_t received, std::int64_t expected)>;

// HTTPS transfers with nothing persisted (no cookies, cache or credentials). Each transfer
// completes exactly once, on the delegate queue the object was made with; calls return at once.
class Transfer {
public:
    virtual ~Transfer() = default;
    virtual void fetch(const std::string& url, std::size_t bodyLimit,
                       std::function<void(DataTransferResult)> completion) = 0;
    virtual void download(const std::string& url, DownloadProgress progress,
                          std::function<void(DownloadTransferResult)> completion) = 0;
};

struct TransferConfiguration {
    double requestTimeout = 30.0;  // seconds without progress
    double resourceTimeout = 60.0; // seconds for a whole transfer
    // Where downloads are written while they are in flight; the system's temporary folder
    // when absent.
    std::optional<std::string> downloadDirectory;
};

std::unique_ptr<Transfer> makeDefaultTransfer(std::shared_ptr<SerialQueue> delegateQueue,
                                              TransferConfiguration configuration);

} // namespace brivane::platform
