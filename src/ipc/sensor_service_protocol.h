#pragma once

#include <concepts>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

namespace brivane::ipc {

// Where the answer to one request goes: called with one JSON document or with std::nullopt (no
// data). Copies share the destination. Made from any callable, or by the endpoint, which also
// tells whether anybody still waits for the answer and which client asked.
class ServiceReply {
public:
    class Destination {
    public:
        virtual ~Destination() = default;
        virtual void send(std::optional<std::string> document) = 0;
        // False once nobody can receive the answer (the asking connection has gone).
        virtual bool isWanted() const { return true; }
        // The client that asked; requests of one client take their turns together. 0: unknown.
        virtual std::uint64_t client() const { return 0; }
        // Whether the work may run at once on the thread that took the request, asked only
        // when it would: true once per connection and read at most, so that a client that
        // pipelines cannot keep the serving thread to itself.
        virtual bool mayRunHere() { return true; }
    };

    ServiceReply() = default;
    ServiceReply(std::nullptr_t) {}
    explicit ServiceReply(std::shared_ptr<Destination> destination)
        : destination_(std::move(destination)) {}
    template <typename Send>
    requires(!std::same_as<std::remove_cvref_t<Send>, ServiceReply> &&
             std::invocable<Send&, std::optional<std::string>>) ServiceReply(Send send)
        : destination_(std::make_shared<Callable<Send>>(std::move(send))) {}

    // One reply that answers every one of replies with the same document.
    static ServiceReply all(std::vector<ServiceReply> replies);

    void operator()(std::optional<std::string> document) const;
    explicit operator bool() const { return destination_ != nullptr; }
    bool isWanted() const { return destination_ && destination_->isWanted(); }
    std::uint64_t client() const { return destination_ ? destination_->client() : 0; }
    bool mayRunHere() const { return !destination_ || destination_->mayRunHere(); }

private:
    template <typename Send> class Callable final : public Destination {
    public:
        explicit Callable(Send send) : send_(std::move(send)) {}
        void send(std::optional<std::string> document) override { send_(std::move(document)); }

    private:
        Send send_;
    };

    std::shared_ptr<Destination> destination_;
};

// The five requests a client may send. Each is answered exactly once through its reply, from
// any thread, with one JSON document or with std::nullopt (no data).
class BrivaneSensorSnapshotXPC {
public:
    using Reply = ServiceReply;

    virtual ~BrivaneSensorSnapshotXPC() = default;

    virtual void snapshotWithReply(Reply reply) = 0;
    virtual void cpuDetailsWithReply(Reply reply) = 0;
    virtual void processDetails(std::string kind, Reply reply) = 0;
    virtual void storageHealth(std::string disk, Reply reply) = 0;
    virtual void manage(std::string command, Reply reply) = 0;

    // The endpoint is going away: no request follows. Work that could outlast its short grace
    // (transfers, long tool runs) should end now, answered as it fails.
    virtual void invalidate() {}
};

} // namespace brivane::ipc
