#pragma once

#include "backends/linux/polling/sensor_channels.h"
#include "platform/hardware_monitor.h"

#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace brivane::platform::linux_backend {

class CardActivity;
class SharedDemand;

// Reads a back end's sensor files where a slow or stuck file cannot hold a request: requests
// only take the latest values, and two lanes (threads) read the files while clients ask.
// - The fast lane discovers (the back end's walk), then reads every channel that is due, once a
//   refresh interval or the driver's cache interval. A channel whose read is slow moves to the
//   slow lane, which reads it no more often than its own pace allows; a driver known to be slow
//   starts there.
// - Reading starts with a request and stops `idleAfter` seconds after the last one: a machine
//   nobody watches costs no wake-up. The first request after a rest waits up to `firstWait`
//   for the fast lane's pass and then shows what is ready.
// - Paced to a steady client (the recorder): when the last four requests came at one period,
//   at least three refreshes long, each lane reads once per expected request instead of every
//   refresh, starting its longest recent pass and a refresh before it, and sleeps until the
//   next one; its slow channels that are due are read in that pass. Reading does not rest
//   while the requests keep coming. A request the fast lane has not just read for (too early
//   or late) is served as after a rest; one that breaks the period (a second client's) sends
//   the lanes back to the refresh until the requests are steady again; one that does not come
//   at all lets reading rest as without a cadence.
// - Discovery runs again when a file reports its device gone, on the kernel's add and remove
//   events of the back end's subsystems, and when the listing of its class folders changed
//   (looked at every `rediscoverEvery` seconds), all only while clients ask; never for a
//   request itself.
// - A read still running after `stuckAfter` seconds, seen by a request, leaves its lane behind:
//   the channel's whole device is skipped from then on, reported once, and a fresh lane reads
//   the others. Discovery is timed by its single reads: a walk left behind makes a fresh one
//   that passes over the hung device, until the read returns.
// - A file that fails (its device gone) is looked for again; one that keeps failing (gone, or
//   refused to the user) over some seconds is retired, logged once, and read again on the
//   discovery timer, less often each time it still fails; a good read forgets its failures.
// - Reads of channels that have not answered since the last hung read (new ones too) run side
//   by side on threads of their own, so that many hung devices cost one wait together and the
//   healthy values stay fresh.
class SensorPoller {
public:
    // What a discovery found; CatalogPoller below gives it back as the type it is.
    using Catalog = std::shared_ptr<const void>;
    // The back end's walk: what it found, holding on to the channel set it filled. Runs on the
    // fast lane, must not touch the back end object (a stuck lane may outlive it).
    using Discover = std::function<Catalog(const std::shared_ptr<ChannelSet>&)>;
    using Report = std::function<void(std::string_view line)>;

    struct Setup {
        SensorTiming timing{};
        std::shared_ptr<const UptimeClock> clock{}; // the machine's when null
        posix::KeptValue::Pread pread = ::pread;
        std::size_t keptLimit = 256;
        std::string name = "sensors"; // the lanes' thread names
        std::vector<std::string_view> ueventSubsystems{};
        // Class folders whose listing (names and link targets) the timer compares with the last
        // discovery's, so that an unchanged machine costs a listing, not a walk.
        std::vector<std::string> classFolders{};
        std::function<posix::FileDescriptor()> openUevents{}; // the kernel's when null
        Report report{};                                      // standard error when null
        std::shared_ptr<SharedDemand> demand{};               // pollers that wake together
        std::shared_ptr<CardActivity> cards{}; // graphics cards' activity, between back ends
        bool background = true;                // false: nothing runs but what step() runs (tests)
        // Called on the slow lane (whose probes may hold a library) when reading stops after
        // the last request.
        std::function<void()> resting{};

        // This setup for one back end: its name, class folders and the kernel subsystems whose
        // events ask for a discovery.
        Setup forBackEnd(std::string backEnd, std::vector<std::string> folders,
                         std::vector<std::string_view> subsystems) && {
            name = std::move(backEnd);
            classFolders = std::move(folders);
            ueventSubsystems = std::move(subsystems);
            return std::move(*this);
        }
    };

    ~SensorPoller();
    SensorPoller(const SensorPoller&) = delete;
    SensorPoller& operator=(const SensorPoller&) = delete;

    const posix::RootedDirectory& root() const;
    const SensorTiming& timing() const;
    const std::string& name() const;
    // Its name, up unless a read of the back end hangs (some of its sensors are missing for
    // it), and how many of its files are retired.
    MonitorSource source();
    bool up() { return source().up; }

    // Without background lanes: runs what is due now on both lanes, on the calling thread.
    void step();

    struct State;

protected:
    SensorPoller(const std::string& root, Discover discover, Setup setup);

    // What the latest discovery found (null before the first one), noting that a client asks.
    // After a rest it waits up to firstWait for the fast lane's pass; with `discoveryPatience`,
    // up to that many seconds for the first discovery only (when a back end opens, and must know
    // what there is, not yet what it reads). Values older than their pace allows are forgotten.
    Catalog currentCatalog(std::optional<double> discoveryPatience);

private:
    friend class SharedDemand;
    void wakeWithOthers(double now);

    std::shared_ptr<State> state_;
};

// A SensorPoller whose walk finds a `Found`, handed back as one: asking for another type does
// not compile.
template <class Found> class CatalogPoller final : public SensorPoller {
public:
    using Discover =
        std::function<std::shared_ptr<const Found>(const std::shared_ptr<ChannelSet>&)>;

    CatalogPoller(const std::string& root, Discover discover, Setup setup)
        : SensorPoller(root, erase(std::move(discover)), std::move(setup)) {}

    std::shared_ptr<const Found> current() {
        return std::static_pointer_cast<const Found>(currentCatalog(std::nullopt));
    }
    std::shared_ptr<const Found> found(double patience) {
        return std::static_pointer_cast<const Found>(currentCatalog(patience));
    }

private:
    static SensorPoller::Discover erase(Discover discover) {
        return [discover = std::move(discover)](const std::shared_ptr<ChannelSet>& channels) {
            return Catalog(discover(channels));
        };
    }
};

// The pollers of one snapshot's back ends: a request after a rest reaches one of them first,
// and the others start their passes at once instead of when the snapshot gets to them, so a
// snapshot waits for one deadline, not one each.
class SharedDemand {
public:
    void join(SensorPoller& poller);
    void leave(SensorPoller& poller);
    void wakeOthers(SensorPoller& woken, double now);
    // Each poller's source().
    std::vector<MonitorSource> sources();

    // The agent's back ends, which wake together.
    static std::shared_ptr<SharedDemand> agents();

private:
    std::mutex mutex_;
    std::vector<SensorPoller*> pollers_;
};

} // namespace brivane::platform::linux_backend
