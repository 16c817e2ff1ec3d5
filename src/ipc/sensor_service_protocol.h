#pragma once

#include <functional>
#include <optional>
#include <string>

namespace brivane {

// The five requests a client may send. Each is answered exactly once through its reply, from
// any thread, with one JSON document or with std::nullopt (no data).
class BrivaneSensorSnapshotXPC {
public:
    using Reply = std::function<void(std::optional<std::string>)>;

    virtual ~BrivaneSensorSnapshotXPC() = default;

    virtual void snapshotWithReply(Reply reply) = 0;
    virtual void cpuDetailsWithReply(Reply reply) = 0;
    virtual void processDetails(std::string kind, Reply reply) = 0;
    virtual void storageHealth(std::string disk, Reply reply) = 0;
    virtual void manage(std::string command, Reply reply) = 0;
};

} // namespace brivane
