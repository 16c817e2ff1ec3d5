#include "backends/linux/gpu/nvml_library.h"

#include <dlfcn.h>

namespace brivane::platform::linux_backend {

namespace {

// The few declarations of the library's C interface this file calls.
using Return = int; // 0 is success
using Device = struct OpaqueDevice*;
struct Utilization {
    unsigned int gpu;
    unsigned int memory;
};
constexpr Return success = 0;

} // namespace

struct NvmlLibrary::Functions {
    Return (*init)();
    Return (*shutdown)();
    Return (*handleByPciBusId)(const char*, Device*);
    Return (*utilizationRates)(Device, Utilization*);
};

std::unique_ptr<NvmlLibrary> NvmlLibrary::load(const std::string& name) {
    void* handle = ::dlopen(name.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle)
        return nullptr;
    auto functions = std::make_unique<Functions>();
    const auto bind = [&](auto& function, const char* symbol) {
        function =
            reinterpret_cast<std::remove_reference_t<decltype(function)>>(::dlsym(handle, symbol));
        return function != nullptr;
    };
    if (!bind(functions->init, "nvmlInit_v2") || !bind(functions->shutdown, "nvmlShutdown") ||
        !bind(functions->handleByPciBusId, "nvmlDeviceGetHandleByPciBusId_v2") ||
        !bind(functions->utilizationRates, "nvmlDeviceGetUtilizationRates") ||
        functions->init() != success) {
        ::dlclose(handle);
        return nullptr;
    }
    return std::unique_ptr<NvmlLibrary>(new NvmlLibrary(handle, std::move(functions)));
}

NvmlLibrary::NvmlLibrary(void* handle, std::unique_ptr<Functions> functions)
    : handle_(handle), functions_(std::move(functions)) {}

NvmlLibrary::~NvmlLibrary() {
    functions_->shutdown();
    ::dlclose(handle_);
}

std::optional<double> NvmlLibrary::utilizationPercent(const std::string& pciAddress) const {
    Device device = nullptr;
    Utilization utilization{};
    if (functions_->handleByPciBusId(pciAddress.c_str(), &device) != success ||
        functions_->utilizationRates(device, &utilization) != success || utilization.gpu > 100)
        return std::nullopt;
    return static_cast<double>(utilization.gpu);
}

} // namespace brivane::platform::linux_backend
