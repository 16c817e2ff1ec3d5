#pragma once

#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

namespace brivane::platform::linux_backend {

// How busy each graphics card was at its latest read, by PCI address ("0000:03:00.0"): the
// registry's card reads tell it, and the back ends that report cards' power pick the busiest
// card by it, so that "GPUModelPower" and the snapshot's graphics speak of the same card.
class CardActivity {
public:
    void note(const std::string& pciAddress, std::optional<double> percent);
    // Absent for a card not read yet, or without a figure.
    std::optional<double> percent(std::string_view pciAddress) const;

    // The one the agent's back ends share.
    static std::shared_ptr<CardActivity> agents();

private:
    mutable std::mutex mutex_;
    std::map<std::string, double, std::less<>> percent_;
};

} // namespace brivane::platform::linux_backend
