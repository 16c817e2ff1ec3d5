#include "snapshot_sharing.h"

#include "formats/document_codec.h"

namespace brivane::cli {

FetchedSnapshot AgentSnapshots::fetch() {
    auto answer = connection_.ask(ipc::Selector::snapshot, std::nullopt);
    if (answer.status == noData) {
        return {std::nullopt, noData, "the agent answered with no data"};
    }
    if (answer.status != answered) {
        return {std::nullopt, answer.status, std::move(answer.text)};
    }
    auto snapshot = decodeSensorSnapshot(answer.text);
    if (!snapshot) {
        return {std::nullopt, noData, "the agent's snapshot did not decode"};
    }
    return {std::move(snapshot), answered, {}};
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
