// A stand-in for the NVIDIA management library with the symbols the agent calls: one GPU at PCI
// address 0000:01:00.0, 42 % busy, 1 GiB of its 8 GiB in use, drawing 35.5 W at 51 °C; asked
// for 0000:02:00.0, it hangs for 5 s. Its processes: pid 300 computing (512 MiB, 25 % of the
// shader cores) and pid 200 drawing (64 MiB, no sample yet), or the two pids
// BRIVANE_FAKE_NVML_PIDS names ("<computing> <drawing>"). It counts its initialisations and
// shutdowns, and the calls that reached the GPU while the file BRIVANE_FAKE_NVML_STATUS names (the
// card's runtime_status) read "suspended": a real GPU would have been woken by them.
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <thread>

namespace {
struct Device {};
Device gpu;
std::atomic<int> inits{0}, shutdowns{0}, held{0}, wokenAsleep{0};

void touch() {
    if (const char* status = std::getenv("BRIVANE_FAKE_NVML_STATUS")) {
        std::string text;
        std::ifstream(status) >> text;
        if (text == "suspended")
            ++wokenAsleep;
    }
}
} // namespace

extern "C" {
// 0: initialisations, 1: shutdowns, 2: held now, 3: calls that would have woken the GPU.
int fakeNvmlCount(int which) {
    const std::atomic<int>* counts[] = {&inits, &shutdowns, &held, &wokenAsleep};
    return *counts[which];
}

int nvmlInit_v2() {
    ++inits;
    ++held;
    touch();
    return 0;
}
int nvmlShutdown() {
    if (held == 0)
        return 1; // uninitialised
    ++shutdowns;
    --held;
    return 0;
}
int nvmlDeviceGetHandleByPciBusId_v2(const char* busId, Device** device) {
    if (held == 0)
        return 1;
    if (std::strcmp(busId, "0000:02:00.0") == 0)
        std::this_thread::sleep_for(std::chrono::seconds(5));
    if (std::strcmp(busId, "0000:01:00.0") != 0)
        return 6; // not found
    touch();
    *device = &gpu;
    return 0;
}
int nvmlDeviceGetUtilizationRates(Device* device, unsigned int* rates) {
    if (device != &gpu)
        return 2;
    rates[0] = 42; // gpu
    rates[1] = 7;  // memory
    return 0;
}
int nvmlDeviceGetMemoryInfo(Device* device, unsigned long long* memory) {
    if (device != &gpu)
        return 2;
    memory[0] = 8ull << 30; // total
    memory[1] = 7ull << 30; // free
    memory[2] = 1ull << 30; // used
    return 0;
}
int nvmlDeviceGetPowerUsage(Device* device, unsigned int* milliwatts) {
    if (device != &gpu)
        return 2;
    *milliwatts = 35500;
    return 0;
}
int nvmlDeviceGetTemperature(Device* device, int sensor, unsigned int* celsius) {
    if (device != &gpu || sensor != 0)
        return 2;
    *celsius = 51;
    return 0;
}
unsigned int processId(int which) {
    unsigned int pids[2] = {300, 200};
    if (const char* named = std::getenv("BRIVANE_FAKE_NVML_PIDS")) {
        char* second = nullptr;
        pids[0] = static_cast<unsigned int>(std::strtoul(named, &second, 10));
        pids[1] = static_cast<unsigned int>(std::strtoul(second, nullptr, 10));
    }
    return pids[which];
}
struct ProcessInfo {
    unsigned int pid;
    unsigned long long usedGpuMemory, instances;
};
int nvmlDeviceGetComputeRunningProcesses_v3(Device* device, unsigned* count, ProcessInfo* infos) {
    infos[0] = {processId(0), 512ull << 20, 0};
    *count = 1;
    return device == &gpu ? 0 : 2;
}
int nvmlDeviceGetGraphicsRunningProcesses_v3(Device* device, unsigned* count, ProcessInfo* infos) {
    infos[0] = {processId(1), 64ull << 20, 0};
    *count = 1;
    return device == &gpu ? 0 : 2;
}
struct Sample {
    unsigned int pid;
    unsigned long long timeStamp;
    unsigned int sm, memory, enc, dec;
};
int nvmlDeviceGetProcessUtilization(Device*, Sample* samples, unsigned* count, unsigned long long) {
    samples[0] = {processId(0), 10, 90, 0, 0, 0};   // an older sample
    samples[1] = {processId(0), 20, 25, 5, 0, 200}; // a decoder share past 100 % is nothing
    *count = 2;
    return 0;
}
}
