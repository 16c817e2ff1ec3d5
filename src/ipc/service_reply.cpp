#include "ipc/sensor_service_protocol.h"

namespace brivane::ipc {
namespace {

class Everyone final : public ServiceReply::Destination {
public:
    explicit Everyone(std::vector<ServiceReply> replies) : replies_(std::move(replies)) {}

    void send(std::optional<std::string> document) override {
        for (std::size_t i = 0; i + 1 < replies_.size(); ++i) {
            replies_[i](document);
        }
        if (!replies_.empty()) {
            replies_.back()(std::move(document));
        }
    }
    bool isWanted() const override {
        for (const auto& reply : replies_) {
            if (reply.isWanted()) {
                return true;
            }
        }
        return false;
    }
    std::uint64_t client() const override {
        return replies_.empty() ? 0 : replies_.front().client();
    }

private:
    std::vector<ServiceReply> replies_;
};

} // namespace

// Out of line: inlined into every caller, an empty optional trips a false "may be used
// uninitialized" of the compiler's sanitizer builds.
void ServiceReply::operator()(std::optional<std::string> document) const {
    if (destination_) {
        destination_->send(std::move(document));
    }
}

ServiceReply ServiceReply::all(std::vector<ServiceReply> replies) {
    if (replies.size() == 1) {
        return std::move(replies.front());
    }
    return ServiceReply(std::make_shared<Everyone>(std::move(replies)));
}

} // namespace brivane::ipc
