#include "snapshot_sharing.h"

#include "formats/document_codec.h"

namespace brivane::cli {

FetchedSnapshot AgentSnapshots::fetch() {
    using ipc::SensorClient;
    for (int attempt = 0; attempt < 2; ++attempt) {
        const bool kept = client_ != nullptr;
        std::string problem;
        if (!kept) {
            client_ = SensorClient::connect(endpoint_, problem);
            if (!client_) {
                return {std::nullopt, FetchedSnapshot::Failure::unreachable,
                        "the sensor agent is not running (" + problem + ")"};
            }
        }
        auto outcome = client_->call(ipc::Selector::snapshot, std::nullopt, timeoutMs_);
        if (outcome.status == SensorClient::Status::replied) {
            if (!outcome.reply.document) {
                return {std::nullopt, FetchedSnapshot::Failure::noData,
                        "the agent answered with no data"};
            }
            auto snapshot = decodeSensorSnapshot(*outcome.reply.document);
            if (!snapshot) {
                return {std::nullopt, FetchedSnapshot::Failure::noData,
                        "the agent's snapshot did not decode"};
            }
            return {std::move(snapshot), FetchedSnapshot::Failure::none, {}};
        }
        // A late reply would otherwise arrive as the answer to the next request.
        client_.reset();
        if (outcome.status == SensorClient::Status::timedOut) {
            return {std::nullopt, FetchedSnapshot::Failure::unreachable,
                    "the agent did not answer in time"};
        }
        if (!kept) {
            break;
        }
    }
    return {std::nullopt, FetchedSnapshot::Failure::unreachable,
            "the agent closed the connection without answering (this client may not be "
            "admitted)"};
}

std::shared_ptr<const FetchedSnapshot> SharedSnapshot::get(Clock::time_point arrival) {
    std::lock_guard lock(mutex_);
    if (latest_ && arrival <= latestFinished_) {
        return latest_;
    }
    latest_ = std::make_shared<const FetchedSnapshot>(fetch_());
    latestFinished_ = Clock::now();
    return latest_;
}

} // namespace brivane::cli
