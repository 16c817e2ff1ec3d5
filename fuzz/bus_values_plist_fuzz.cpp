// Bus properties of any type and value, strings of any bytes, become power-source and disk
// property lists that always parse: a present device with a level from 0 to 100 gives exactly
// one accessory reading, and a disk description always names the disk asked for.
#include "formats/sensor_snapshot.h"
#include "formats/storage_health.h"
#include "readers/property_list.h"
#include "system-tools/disk_description.h"
#include "system-tools/power_sources.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string_view>

namespace {

using namespace brivane::system_tools;

void require(bool condition) {
    if (!condition) {
        std::abort();
    }
}

// Every name the conversions look up, so that the fuzzer reaches them all.
constexpr std::array<const char*, 36> names = {"PowerSupply",
                                               "Type",
                                               "Model",
                                               "Percentage",
                                               "IsPresent",
                                               "State",
                                               "Serial",
                                               "NativePath",
                                               "Alias",
                                               "Name",
                                               "Address",
                                               "SmartUpdated",
                                               "SmartTemperature",
                                               "SmartPowerOnHours",
                                               "SmartCriticalWarning",
                                               "avail_spare",
                                               "spare_thresh",
                                               "percent_used",
                                               "total_data_read",
                                               "total_data_written",
                                               "power_cycles",
                                               "unsafe_shutdowns",
                                               "media_errors",
                                               "ctrl_busy_time",
                                               "num_err_log_entries",
                                               "SmartSupported",
                                               "SmartEnabled",
                                               "SmartPowerOnSeconds",
                                               "SmartFailing",
                                               "Device",
                                               "Drive",
                                               "Size",
                                               "Vendor",
                                               "Revision",
                                               "WWN",
                                               "Id"};

class Bytes {
public:
    Bytes(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
    bool empty() const { return size_ == 0; }
    std::uint8_t byte() { return size_ == 0 ? 0 : (--size_, *data_++); }
    template <class T> T raw() {
        T value{};
        const std::size_t n = std::min(sizeof(T), size_);
        std::memcpy(&value, data_, n);
        data_ += n, size_ -= n;
        return value;
    }
    std::string text() {
        const std::size_t n = std::min<std::size_t>(byte(), size_);
        std::string out(reinterpret_cast<const char*>(data_), n);
        data_ += n, size_ -= n;
        return out;
    }

private:
    const std::uint8_t* data_;
    std::size_t size_;
};

BusValue value(Bytes& bytes) {
    switch (bytes.byte() % 6) {
    case 0:
        return (bytes.byte() & 1) != 0;
    case 1:
        return bytes.raw<std::int64_t>();
    case 2:
        return bytes.raw<std::uint64_t>();
    case 3:
        return bytes.raw<double>();
    case 4:
        return bytes.text();
    default:
        return std::monostate{};
    }
}

// Properties until a zero byte or the end.
BusProperties properties(Bytes& bytes) {
    BusProperties out;
    while (!bytes.empty()) {
        const std::uint8_t key = bytes.byte();
        if (key == 0) {
            break;
        }
        out[names[key % names.size()]] = value(bytes);
    }
    return out;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Bytes bytes(data, size);
    const auto device = properties(bytes);
    const auto battery = properties(bytes);
    std::vector<PowerSourceFacts> accessories;
    if (auto facts = upowerAccessory(device)) {
        accessories.push_back(std::move(*facts));
    }
    if (auto facts = bluezAccessory(device, battery)) {
        accessories.push_back(std::move(*facts));
    }
    std::size_t levels = 0;
    for (const auto& facts : accessories) {
        const bool level = facts.percent && *facts.percent >= 0 && *facts.percent <= 100;
        levels += level && facts.present != false ? 1 : 0;
    }
    const auto readings = brivane::SensorSnapshot::AccessoryReading::parse(
        powerSourceDocuments(std::nullopt, accessories));
    require(readings.size() == levels);

    DiskFacts disk{.identifier = "disk0",
                   .kernelName = bytes.text(),
                   .model = bytes.text(),
                   .drive = DriveFacts{},
                   .serial = bytes.text()};
    if ((bytes.byte() & 1) != 0) {
        disk.drive->nvme = device;
        disk.drive->nvmeAttributes = battery;
    } else {
        disk.drive->ata = device;
        disk.drive->ataAttributes.push_back(
            {bytes.byte(), bytes.text(), bytes.raw<std::int64_t>(), bytes.raw<std::int32_t>()});
    }
    disk.drive->drive = properties(bytes);
    const auto text = diskDescription(disk);
    const auto document = brivane::plist::parse(text);
    require(document != nullptr);
    require(brivane::plist::stringValue(brivane::plist::item(document.get(), "DeviceIdentifier")) ==
            std::string_view("disk0"));
    brivane::StorageHealthReading::parse(text, "disk0");
    return 0;
}
