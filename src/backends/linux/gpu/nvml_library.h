#pragma once

#include <memory>
#include <optional>
#include <string>

namespace brivane::platform::linux_backend {

// The NVIDIA management library, loaded at run time where the driver installed it: no build
// dependency, and a machine without it simply has no NVIDIA figures. The handle and the
// library's initialisation are released on destruction.
class NvmlLibrary {
public:
    // Nothing when the library is missing, lacks a symbol or fails to initialise.
    static std::unique_ptr<NvmlLibrary> load(const std::string& name = "libnvidia-ml.so.1");
    ~NvmlLibrary();
    NvmlLibrary(const NvmlLibrary&) = delete;
    NvmlLibrary& operator=(const NvmlLibrary&) = delete;

    // The GPU's busy share in percent over the driver's last sample period, by PCI address
    // ("0000:01:00.0"); nothing when the library does not know the device or fails.
    std::optional<double> utilizationPercent(const std::string& pciAddress) const;

private:
    struct Functions;
    explicit NvmlLibrary(void* handle, std::unique_ptr<Functions> functions);

    void* handle_;
    std::unique_ptr<Functions> functions_;
};

} // namespace brivane::platform::linux_backend
