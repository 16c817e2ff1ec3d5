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

std::shared_ptr<const FetchedSnapshot> SharedSnapshot::get() {
    std::unique_lock lock(mutex_);
    if (inFlight_) {
        const auto awaited = attempts_ + 1;
        finished_.wait(lock, [&] { return attempts_ >= awaited; });
        return latest_;
    }
    inFlight_ = true;
    lock.unlock();
    std::shared_ptr<const FetchedSnapshot> fetched;
    try {
        fetched = std::make_shared<const FetchedSnapshot>(fetch_());
    } catch (const std::exception& error) { // the waiters must hear of it all the same
        fetched = std::make_shared<const FetchedSnapshot>(
            FetchedSnapshot{std::nullopt, unreachable, error.what()});
    }
    lock.lock();
    latest_ = std::move(fetched);
    ++attempts_;
    inFlight_ = false;
    finished_.notify_all();
    return latest_;
}

} // namespace brivane::cli
