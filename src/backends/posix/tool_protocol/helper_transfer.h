#pragma once

#include "backends/posix/tool_protocol/tool_invocations.h"
#include "base/serial_queue.h"
#include "platform/tool_runner.h"
#include "platform/transfer.h"

#include <memory>
#include <string>
#include <string_view>

namespace brivane::platform::posix {

// Names the process that started a transfer helper, so that the helper ends with it.
inline constexpr std::string_view transferParentVariable = "BRIVANE_TRANSFER_PARENT";

// Transfers run one at a time on the delegate queue, each by a helper process ("transfer"
// of the bundle's system-tools executable), which does the HTTPS exchange and reports it
// (transfer_report.h). The agent itself thus links no network library, and a stop ends a
// transfer by ending its helper. A helper that reports nothing valid is a transfer error.
class HelperTransfer final : public Transfer {
public:
    // How long a helper may run beyond the transfer's own resource limit.
    static constexpr double helperMargin = 5.0;

    HelperTransfer(std::shared_ptr<base::SerialQueue> delegateQueue,
                   TransferConfiguration configuration, std::shared_ptr<ToolRunner> runner,
                   ToolTranslation helper);

    void fetch(const std::string& url, std::size_t bodyLimit,
               std::function<void(DataTransferResult)> completion) override;
    void download(const std::string& url, std::int64_t maximumBytes,
                  std::function<void(DownloadTransferResult)> completion) override;
    void cancel() override;

    // Blocking forms, run on the calling thread.
    DataTransferResult fetchNow(const std::string& url, std::size_t bodyLimit) const;
    void downloadNow(const std::string& url, std::int64_t maximumBytes,
                     const std::function<void(DownloadTransferResult)>& completion) const;

private:
    std::optional<std::string> runHelper(std::vector<std::string> arguments,
                                         std::string& output) const;

    std::shared_ptr<base::SerialQueue> queue_;
    TransferConfiguration configuration_;
    std::shared_ptr<ToolRunner> runner_;
    ToolTranslation helper_;
};

} // namespace brivane::platform::posix
