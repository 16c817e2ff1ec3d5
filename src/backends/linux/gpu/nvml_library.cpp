#include "backends/linux/gpu/nvml_library.h"

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
    auto library = posix::SharedLibrary::open(name);
    if (!library)
        return nullptr;
    auto functions = std::make_unique<Functions>();
    library->require(functions->init, "nvmlInit_v2");
    library->require(functions->shutdown, "nvmlShutdown");
    library->require(functions->handleByPciBusId, "nvmlDeviceGetHandleByPciBusId_v2");
    library->require(functions->utilizationRates, "nvmlDeviceGetUtilizationRates");
    if (library->missing())
        return nullptr;
    library->resolve(functions->memoryInfo, "nvmlDeviceGetMemoryInfo");
    library->resolve(functions->powerUsage, "nvmlDeviceGetPowerUsage");
    library->resolve(functions->temperature, "nvmlDeviceGetTemperature");
    return std::unique_ptr<NvmlLibrary>(new NvmlLibrary(std::move(*library), std::move(functions)));
}

NvmlLibrary::NvmlLibrary(posix::SharedLibrary library, std::unique_ptr<Functions> functions)
    : library_(std::move(library)), functions_(std::move(functions)) {}

NvmlLibrary::~NvmlLibrary() {
    shutdown();
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
