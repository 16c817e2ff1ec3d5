#include "backends/linux/gpu/nvml_session.h"

#include <algorithm>

namespace brivane::platform::linux_backend {

NvmlSession::NvmlSession(std::string library, std::shared_ptr<const UptimeClock> clock,
                         NvmlCadence cadence)
    : name_(std::move(library)), clock_(std::move(clock)), cadence_(cadence) {}

void NvmlSession::noteRequest() {
    const double now = clock_->uptime();
    const std::lock_guard lock(requests_);
    if (lastRequest_) {
        gap_ = now - *lastRequest_;
    }
    lastRequest_ = now;
}

bool NvmlSession::often(double gap) const {
    return gap <= cadence_.keepWithin;
}

std::optional<NvmlFigures> NvmlSession::read(const std::string& pciAddress) {
    const double now = clock_->uptime();
    std::optional<double> lastRequest, gap;
    {
        const std::lock_guard lock(requests_);
        lastRequest = lastRequest_;
        gap = gap_;
    }
    const std::lock_guard lock(mutex_);
    Card& card = cards_[pciAddress];
    card.awake = true;
    // Until two requests tell the cadence, a client is taken to ask often; the rest releases
    // the library of one that asked once.
    const bool held = !gap || !lastRequest || often(*gap);
    if (!held && card.readAt) {
        // A seldom client is shown what was read shortly before its request; the next
        // request's figures are read when it is about due.
        const double next = *lastRequest + *gap - cadence_.lead;
        const bool servesNext = *card.readAt >= next;
        const bool servesLatest = *card.readAt >= *lastRequest - cadence_.lead;
        if (servesNext || (servesLatest && now < next)) {
            if (library_) {
                library_->shutdown(); // held for a client that asked often until now
            }
            return card.figures;
        }
    }
    if (!tried_) {
        tried_ = true;
        library_ = NvmlLibrary::open(name_);
    }
    if (!library_ || !library_->initialise()) {
        return std::nullopt;
    }
    if (held) {
        card.figures = library_->figures(pciAddress);
        card.readAt = now;
        publish(pciAddress, card.figures, now);
        return card.figures;
    }
    // Every card awake is read at once, and the library let go until the next request's
    // figures are due.
    for (auto& [address, other] : cards_) {
        if (other.awake) {
            other.figures = library_->figures(address);
            other.readAt = now;
            publish(address, other.figures, now);
        }
    }
    library_->shutdown();
    return card.figures;
}

std::vector<NvmlProcess> NvmlSession::processes(const std::string& pciAddress) const {
    const double now = clock_->uptime();
    const std::lock_guard lock(publishedMutex_);
    const auto card = published_.find(pciAddress);
    if (card == published_.end() || now - card->second.first > processesFreshFor)
        return {};
    return card->second.second;
}

void NvmlSession::publish(const std::string& pciAddress, const std::optional<NvmlFigures>& figures,
                          double readAt) {
    const std::lock_guard lock(publishedMutex_);
    if (figures)
        published_[pciAddress] = {readAt, figures->processes};
    else
        published_.erase(pciAddress);
}

void NvmlSession::asleep(const std::string& pciAddress) {
    const std::lock_guard lock(mutex_);
    Card& card = cards_[pciAddress];
    card.awake = false;
    card.figures.reset();
    card.readAt.reset();
    publish(pciAddress, std::nullopt, 0);
    releaseUnlessAwake();
}

void NvmlSession::rest() {
    const std::lock_guard lock(mutex_);
    if (library_) {
        library_->shutdown();
    }
}

void NvmlSession::releaseUnlessAwake() {
    if (library_ && std::none_of(cards_.begin(), cards_.end(),
                                 [](const auto& card) { return card.second.awake; })) {
        library_->shutdown();
    }
}

} // namespace brivane::platform::linux_backend
