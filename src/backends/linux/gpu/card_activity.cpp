#include "backends/linux/gpu/card_activity.h"

namespace brivane::platform::linux_backend {

void CardActivity::note(const std::string& pciAddress, std::optional<double> percent) {
    if (pciAddress.empty())
        return;
    const std::lock_guard lock(mutex_);
    if (percent)
        percent_.insert_or_assign(pciAddress, *percent);
    else
        percent_.erase(pciAddress);
}

std::optional<double> CardActivity::percent(std::string_view pciAddress) const {
    const std::lock_guard lock(mutex_);
    const auto found = percent_.find(pciAddress);
    return found == percent_.end() ? std::nullopt : std::optional(found->second);
}

std::shared_ptr<CardActivity> CardActivity::agents() {
    static const auto activity = std::make_shared<CardActivity>();
    return activity;
}

} // namespace brivane::platform::linux_backend
