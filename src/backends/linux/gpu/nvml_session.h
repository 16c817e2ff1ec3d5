#pragma once

#include "backends/linux/gpu/nvml_library.h"
#include "platform/uptime_clock.h"

#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

namespace brivane::platform::linux_backend {

// When the NVIDIA library is held, in seconds of uptime. A GPU the library holds (an
// initialisation opens the driver's device files) or asks (any query that reaches the GPU
// resumes it) does not sleep, and a laptop's discrete card should sleep whenever nobody uses it.
struct NvmlCadence {
    // Clients asking at least this often keep the library initialised between their requests;
    // past it, each request's figures are read shortly before it is due, and the library is
    // shut down straight after, so the card can sleep in between.
    double keepWithin = 5;
    // How long before a request of a seldom client its figures are read, and how old figures
    // a request may be shown.
    double lead = 3;
};

// The NVIDIA management library as the cards' probes (on a poller's slow lane) share it. It is
// loaded when a card is first read awake, initialised only while a card it serves is awake and
// a client asks, and shut down when clients ask seldom (between their requests), when every
// card it serves sleeps and when the clients stop asking (rest). It never asks a card that
// sleeps: the probe looks at the card's runtime status first.
class NvmlSession {
public:
    NvmlSession(std::string library, std::shared_ptr<const UptimeClock> clock,
                NvmlCadence cadence = {});

    // A snapshot asked for the cards: the requests' cadence decides how long the library is held.
    void noteRequest();
    // The figures of the GPU at `pciAddress`, which is awake: read now when its clients are
    // about to ask (or ask often), else those read for the latest request; nothing when there
    // are none that recent, or the library cannot tell.
    std::optional<NvmlFigures> read(const std::string& pciAddress);
    // The processes on the GPU at `pciAddress` as read with its latest figures, while it is
    // awake and they are at most `processesFreshFor` old; never a library call of its own, so
    // a request for them neither wakes a card nor holds the library.
    std::vector<NvmlProcess> processes(const std::string& pciAddress) const;
    static constexpr double processesFreshFor = 15; // seconds
    // The GPU at `pciAddress` sleeps: the library is let go when it serves no card awake.
    void asleep(const std::string& pciAddress);
    // Nobody asks any more.
    void rest();

private:
    struct Card {
        bool awake = true;
        std::optional<NvmlFigures> figures;
        std::optional<double> readAt; // when the library was last asked for it
    };

    bool often(double gap) const;
    void releaseUnlessAwake();

    std::string name_;
    std::shared_ptr<const UptimeClock> clock_;
    NvmlCadence cadence_;

    std::mutex requests_; // never held across a library call, which may hang
    std::optional<double> lastRequest_;
    std::optional<double> gap_; // between the latest two requests

    std::mutex mutex_; // the library and the cards
    bool tried_ = false;
    std::unique_ptr<NvmlLibrary> library_;
    std::map<std::string, Card, std::less<>> cards_;

    // The processes of each card awake, by when they were read; apart from the library's
    // lock, so that asking for them never waits on a hung call.
    void publish(const std::string& pciAddress, const std::optional<NvmlFigures>& figures,
                 double readAt);
    mutable std::mutex publishedMutex_;
    std::map<std::string, std::pair<double, std::vector<NvmlProcess>>, std::less<>> published_;
};

} // namespace brivane::platform::linux_backend
