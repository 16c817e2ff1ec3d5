#include "backends/linux/gpu/nvml_library.h"

#include <algorithm>
#include <map>
#include <span>

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
struct ProcessInfo {
    unsigned int pid;
    unsigned long long usedGpuMemory;
    unsigned int gpuInstanceId;
    unsigned int computeInstanceId;
};
struct ProcessSample {
    unsigned int pid;
    unsigned long long timeStamp; // µs
    unsigned int smUtil;
    unsigned int memUtil;
    unsigned int encUtil;
    unsigned int decUtil;
};
using ProcessList = Return (*)(Device, unsigned int*, ProcessInfo*);
constexpr Return success = 0;
constexpr unsigned long long valueNotAvailable = ~0ull;
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
    ProcessList computeProcesses = nullptr, graphicsProcesses = nullptr;
    Return (*processUtilization)(Device, ProcessSample*, unsigned int*,
                                 unsigned long long) = nullptr;
};

namespace {

// The processes of both lists, one entry per pid, with the driver's latest share samples.
std::vector<NvmlProcess> processesOf(Device device, const NvmlLibrary::Functions& functions) {
    std::map<std::int32_t, NvmlProcess> found;
    for (const ProcessList list : {functions.computeProcesses, functions.graphicsProcesses}) {
        // The driver is offered half the records the buffer holds: a driver whose record has
        // grown (up to twice ours) then cannot write past the buffer.
        std::vector<ProcessInfo> infos(2 * maximumNvmlProcesses);
        unsigned int count = static_cast<unsigned int>(maximumNvmlProcesses);
        if (!list || list(device, &count, infos.data()) != success)
            continue;
        for (const ProcessInfo& info :
             std::span(infos).first(std::min<std::size_t>(count, infos.size()))) {
            NvmlProcess& process = found[static_cast<std::int32_t>(info.pid)];
            process.pid = static_cast<std::int32_t>(info.pid);
            if (info.usedGpuMemory != valueNotAvailable)
                process.memoryBytes =
                    std::max<std::uint64_t>(process.memoryBytes.value_or(0), info.usedGpuMemory);
        }
    }
    std::vector<ProcessSample> samples(maximumNvmlProcesses);
    unsigned int count = static_cast<unsigned int>(samples.size());
    if (!found.empty() && functions.processUtilization &&
        functions.processUtilization(device, samples.data(), &count, 0) == success) {
        std::map<std::int32_t, unsigned long long> latest;
        for (const ProcessSample& sample :
             std::span(samples).first(std::min<std::size_t>(count, samples.size()))) {
            const auto process = found.find(static_cast<std::int32_t>(sample.pid));
            auto& seen = latest[static_cast<std::int32_t>(sample.pid)];
            if (process == found.end() || sample.timeStamp < seen)
                continue;
            seen = sample.timeStamp;
            auto& engines = process->second.enginePercent;
            engines.clear();
            for (const auto& [engine, value] :
                 {std::pair{"sm", sample.smUtil}, {"enc", sample.encUtil}, {"dec", sample.decUtil}})
                if (value <= 100)
                    engines[engine] = value;
        }
    }
    std::vector<NvmlProcess> processes;
    for (auto& [pid, process] : found)
        if (processes.size() < maximumNvmlProcesses)
            processes.push_back(std::move(process));
    return processes;
}

} // namespace

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
    library->resolve(functions->computeProcesses, "nvmlDeviceGetComputeRunningProcesses_v3") ||
        library->resolve(functions->computeProcesses, "nvmlDeviceGetComputeRunningProcesses_v2");
    library->resolve(functions->graphicsProcesses, "nvmlDeviceGetGraphicsRunningProcesses_v3") ||
        library->resolve(functions->graphicsProcesses, "nvmlDeviceGetGraphicsRunningProcesses_v2");
    library->resolve(functions->processUtilization, "nvmlDeviceGetProcessUtilization");
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
    figures.processes = processesOf(device, *functions_);
    return figures;
}

} // namespace brivane::platform::linux_backend
