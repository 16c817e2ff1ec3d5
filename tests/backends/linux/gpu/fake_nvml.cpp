// A stand-in for the NVIDIA management library with the few symbols the agent calls: one GPU
// at PCI address 0000:01:00.0, 42 % busy; asked for 0000:02:00.0, it hangs for 5 s.
#include <chrono>
#include <cstring>
#include <thread>

namespace {
struct Device {};
Device gpu;
} // namespace

extern "C" {
int nvmlInit_v2() {
    return 0;
}
int nvmlShutdown() {
    return 0;
}
int nvmlDeviceGetHandleByPciBusId_v2(const char* busId, Device** device) {
    if (std::strcmp(busId, "0000:02:00.0") == 0)
        std::this_thread::sleep_for(std::chrono::seconds(5));
    if (std::strcmp(busId, "0000:01:00.0") != 0)
        return 6; // not found
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
}
