#include "alert_observer.h"

namespace brivane::cli {
namespace {

AlertEngine::Outlets withStore(AlertEngine::Outlets outlets, AlertStore* store) {
    outlets.store = store;
    return outlets;
}

} // namespace

AlertObserver::AlertObserver(std::filesystem::path ruleFile, AlertEngine::Outlets outlets,
                             std::int64_t intervalMs, Disks disks)
    : disks_(std::move(disks)), engine_(std::move(ruleFile), withStore(std::move(outlets), &store_),
                                        static_cast<double>(intervalMs) / 1000) {}

void AlertObserver::begin(HistoryStore* store) {
    store_.use(store);
    // The database is there from the first sample on: what a previous run left firing fires
    // no second time.
    if (!restored_) {
        restored_ = true;
        engine_.restore();
    }
}

void AlertObserver::observe(const SensorSnapshot& snapshot, std::int64_t timeMs,
                            HistoryStore* store) {
    begin(store);
    const auto disks = disks_ ? disks_() : nullptr;
    engine_.observe(alertFrame(static_cast<double>(timeMs) / 1000, &snapshot,
                               disks ? *disks : DiskHealthList{}));
}

void AlertObserver::unanswered(std::int64_t timeMs, std::string_view, HistoryStore* store) {
    begin(store);
    engine_.observe(alertFrame(static_cast<double>(timeMs) / 1000, nullptr, {}));
}

void AlertObserver::reload() {
    engine_.reload(true);
}

} // namespace brivane::cli
