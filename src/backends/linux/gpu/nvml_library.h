#pragma once

#include "backends/posix/system/shared_library.h"

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace brivane::platform::linux_backend {

inline constexpr std::size_t maximumNvmlProcesses = 256;

// One process on a GPU as the library tells it.
struct NvmlProcess {
    std::int32_t pid = 0;
    // The driver's latest sample of its share, 0–100: "sm" (the shader cores, 3D and compute),
    // "enc", "dec"; empty when the driver has no sample of it.
    std::map<std::string, double> enginePercent;
    std::optional<std::uint64_t> memoryBytes;

    bool operator==(const NvmlProcess&) const = default;
};

// What the library tells of one GPU; each figure absent when the library cannot say.
struct NvmlFigures {
    std::optional<double> utilizationPercent; // over the driver's last sample period
    std::optional<std::int64_t> memoryUsed;   // bytes
    std::optional<std::int64_t> memoryTotal;  // bytes
    std::optional<double> watts;
    std::optional<double> celsius;
    // Its processes (graphics and compute), at most maximumNvmlProcesses.
    std::vector<NvmlProcess> processes;
};

// The NVIDIA management library, loaded at run time where the driver installed it: no build
// dependency, and a machine without it simply has no NVIDIA figures. Loading it touches no
// device; initialising it opens the driver's device files, and a query that reaches a GPU
// resumes it if it sleeps, so both are the caller's decision (nvml_session.h). Not
// thread-safe; the handle (and an initialisation still held) is released on destruction.
class NvmlLibrary {
public:
    // Nothing when the library is missing or lacks a symbol it cannot do without.
    static std::unique_ptr<NvmlLibrary> open(const std::string& name = "libnvidia-ml.so.1");
    ~NvmlLibrary();
    NvmlLibrary(const NvmlLibrary&) = delete;
    NvmlLibrary& operator=(const NvmlLibrary&) = delete;

    // nvmlInit, unless held already; false when it fails.
    bool initialise();
    // nvmlShutdown, when held.
    void shutdown();
    bool initialised() const { return initialised_; }

    // The GPU's figures by PCI address ("0000:01:00.0"), initialised; nothing when the library
    // does not know the device.
    std::optional<NvmlFigures> figures(const std::string& pciAddress) const;

    struct Functions; // the symbols bound

private:
    NvmlLibrary(posix::SharedLibrary library, std::unique_ptr<Functions> functions);

    posix::SharedLibrary library_;
    std::unique_ptr<Functions> functions_;
    bool initialised_ = false;
};

} // namespace brivane::platform::linux_backend
