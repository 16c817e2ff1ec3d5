// A stand-in for the NVIDIA management library with the symbols the agent calls: one GPU at PCI
// address 0000:01:00.0, 42 % busy, 1 GiB of its 8 GiB in use, drawing 35.5 W at 51 °C; asked
// for 0000:02:00.0, it hangs for 5 s. It counts its initialisations and shutdowns, and the
// calls that reached the GPU while the file BRIVANE_FAKE_NVML_STATUS names (the card's
// runtime_status) read "suspended": a real GPU would have been woken by them.
#include <atomic>
#include <chrono>
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
}
