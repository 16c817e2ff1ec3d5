#pragma once

#include "platform/serial_queue.h"
#include "platform/transfer.h"

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace brivane::platform::host {

// For tests only: reach the fixed HTTPS addresses on a local server without changing them.
struct CurlTestRouting {
    std::optional<std::string> caFile;  // trust this CA bundle instead of the system's
    std::vector<std::string> connectTo; // "HOST:PORT:CONNECT-TO-HOST:CONNECT-TO-PORT" entries
};

// libcurl transfers, HTTPS only (redirects too), run one at a time on the delegate queue.
// The request time-out is an idle limit (no byte for that long fails), the resource
// time-out bounds the whole transfer. Nothing is stored: no cookie engine, no netrc, no
// HSTS or alt-svc cache.
class CurlTransfer final : public Transfer {
public:
    CurlTransfer(std::shared_ptr<SerialQueue> delegateQueue, TransferConfiguration configuration,
                 CurlTestRouting routing = {});

    void fetch(const std::string& url, std::size_t bodyLimit,
               std::function<void(DataTransferResult)> completion) override;
    void download(const std::string& url, DownloadProgress progress,
                  std::function<void(DownloadTransferResult)> completion) override;

    // Blocking forms, run on the calling thread.
    DataTransferResult fetchNow(const std::string& url, std::size_t bodyLimit) const;
    void downloadNow(const std::string& url, const DownloadProgress& progress,
                     const std::function<void(DownloadTransferResult)>& completion) const;

private:
    std::shared_ptr<SerialQueue> queue_;
    TransferConfiguration configuration_;
    CurlTestRouting routing_;
};

} // namespace brivane::platform::host
