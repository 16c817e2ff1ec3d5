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
struct Memory {
    unsigned long long total;
    unsigned long long free;
    unsigned long long used;
};
constexpr Return success = 0;
constexpr int gpuTemperatureSensor = 0;

} // namespace

struct NvmlLibrary::Functions {
    Return (*init)();
    Return (*shutdown)();
    Return (*handleByPciBusId)(const char*, Device*);
    Return (*utilizationRates)(Device, Utilization*);
    // Optional: older drivers lack some.
    Return (*memoryInfo)(Device, Memory*) = nullptr;
    Return (*powerUsage)(Device, unsigned int*) = nullptr; // milliwatts
    Return (*temperature)(Device, int, unsigned int*) = nullptr;
};

std::unique_ptr<NvmlLibrary> NvmlLibrary::open(const std::string& name) {
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
        !bind(functions->utilizationRates, "nvmlDeviceGetUtilizationRates")) {
        ::dlclose(handle);
        return nullptr;
    }
    bind(functions->memoryInfo, "nvmlDeviceGetMemoryInfo");
    bind(functions->powerUsage, "nvmlDeviceGetPowerUsage");
    bind(functions->temperature, "nvmlDeviceGetTemperature");
    return std::unique_ptr<NvmlLibrary>(new NvmlLibrary(handle, std::move(functions)));
}

NvmlLibrary::NvmlLibrary(void* handle, std::unique_ptr<Functions> functions)
    : handle_(handle), functions_(std::move(functions)) {}

NvmlLibrary::~NvmlLibrary() {
    shutdown();
    ::dlclose(handle_);
}

bool NvmlLibrary::initialise() {
    if (!initialised_)
        initialised_ = functions_->init() == success;
    return initialised_;
}

void NvmlLibrary::shutdown() {
    if (initialised_) {
        functions_->shutdown();
        initialised_ = false;
    }
}

std::optional<NvmlFigures> NvmlLibrary::figures(const std::string& pciAddress) const {
    Device device = nullptr;
    if (!initialised_ || functions_->handleByPciBusId(pciAddress.c_str(), &device) != success)
        return std::nullopt;
    NvmlFigures figures;
    if (Utilization utilization{};
        functions_->utilizationRates(device, &utilization) == success && utilization.gpu <= 100)
        figures.utilizationPercent = utilization.gpu;
    if (Memory memory{}; functions_->memoryInfo &&
                         functions_->memoryInfo(device, &memory) == success &&
                         memory.used <= memory.total && memory.total < (1ull << 62)) {
        figures.memoryUsed = static_cast<std::int64_t>(memory.used);
        figures.memoryTotal = static_cast<std::int64_t>(memory.total);
    }
    if (unsigned int milliwatts = 0;
        functions_->powerUsage && functions_->powerUsage(device, &milliwatts) == success)
        figures.watts = milliwatts / 1000.0;
    if (unsigned int celsius = 0;
        functions_->temperature &&
        functions_->temperature(device, gpuTemperatureSensor, &celsius) == success)
        figures.celsius = celsius;
    return figures;
}

} // namespace brivane::platform::linux_backend
