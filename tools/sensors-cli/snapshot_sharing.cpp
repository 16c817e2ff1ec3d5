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

std::shared_ptr<const FetchedSnapshot> SharedSnapshot::get() {
    std::unique_lock lock(mutex_);
    if (inFlight_) {
        const auto joined = generation_;
        ++waiting_;
        finished_.wait(lock, [&] { return generation_ != joined; });
        --waiting_;
        return latest_;
    }
    inFlight_ = true;
    lock.unlock();
    std::shared_ptr<const FetchedSnapshot> result;
    try {
        result = std::make_shared<const FetchedSnapshot>(fetch_());
    } catch (...) {
        // Waiters must not hang on a request that will never finish.
        result = std::make_shared<const FetchedSnapshot>(FetchedSnapshot{
            std::nullopt, FetchedSnapshot::Failure::unreachable, "the request failed"});
    }
    lock.lock();
    latest_ = result;
    inFlight_ = false;
    ++generation_;
    finished_.notify_all();
    return result;
}

std::size_t SharedSnapshot::waiting() const {
    std::lock_guard lock(mutex_);
    return waiting_;
}

} // namespace brivane::cli
