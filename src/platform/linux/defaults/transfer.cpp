#include "platform/linux/curl_transfer.h"

namespace brivane::platform {

std::unique_ptr<Transfer> makeDefaultTransfer(std::shared_ptr<SerialQueue> delegateQueue,
                                              TransferConfiguration configuration) {
    return std::make_unique<linux_backend::CurlTransfer>(std::move(delegateQueue),
                                                         std::move(configuration));
}

} // namespace brivane::platform
