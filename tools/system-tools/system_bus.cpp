#include "system_bus.h"

#include "base/utf8.h"

#include <algorithm>
#include <condition_variable>
#include <cstdint>
#include <exception>
#include <mutex>
#include <sdbus-c++/sdbus-c++.h>
#include <thread>

namespace brivane::system_tools {
namespace {

using VariantMap = std::map<std::string, sdbus::Variant>;
using AtaRow = sdbus::Struct<std::uint8_t, std::string, std::uint16_t, std::int32_t, std::int32_t,
                             std::int32_t, std::int64_t, std::int32_t, VariantMap>;

const std::string propertiesInterface = "org.freedesktop.DBus.Properties";
const std::string objectManagerInterface = "org.freedesktop.DBus.ObjectManager";
const std::string upowerService = "org.freedesktop.UPower";
const std::string upowerDevice = "org.freedesktop.UPower.Device";
const std::string udisksService = "org.freedesktop.UDisks2";
const std::string udisksNvme = "org.freedesktop.UDisks2.NVMe.Controller";
const std::string udisksAta = "org.freedesktop.UDisks2.Drive.Ata";

// Text on the bus is whatever a service holds (a disk's model is the drive's own word, and may
// run to megabytes): kept to a sane length, cut between characters.
constexpr std::size_t textLimit = 256;

std::string capped(std::string text) {
    text.resize(base::utf8::truncated(text, textLimit).size());
    return text;
}

// Byte arrays (UDisks2's device paths) end in a NUL that is not part of the text.
std::string bytesAsText(const std::vector<std::uint8_t>& bytes) {
    std::string text(bytes.begin(), bytes.end());
    while (!text.empty() && text.back() == '\0') {
        text.pop_back();
    }
    return capped(std::move(text));
}

BusValue valueOf(const sdbus::Variant& variant) try {
    const std::string type = variant.peekValueType();
    if (type == "b") {
        return variant.get<bool>();
    }
    if (type == "y") {
        return std::uint64_t{variant.get<std::uint8_t>()};
    }
    if (type == "q") {
        return std::uint64_t{variant.get<std::uint16_t>()};
    }
    if (type == "u") {
        return std::uint64_t{variant.get<std::uint32_t>()};
    }
    if (type == "t") {
        return variant.get<std::uint64_t>();
    }
    if (type == "n") {
        return std::int64_t{variant.get<std::int16_t>()};
    }
    if (type == "i") {
        return std::int64_t{variant.get<std::int32_t>()};
    }
    if (type == "x") {
        return variant.get<std::int64_t>();
    }
    if (type == "d") {
        return variant.get<double>();
    }
    if (type == "s") {
        return capped(variant.get<std::string>());
    }
    if (type == "o") {
        return capped(variant.get<sdbus::ObjectPath>());
    }
    if (type == "ay") {
        return bytesAsText(variant.get<std::vector<std::uint8_t>>());
    }
    return std::monostate{};
} catch (const std::exception&) {
    return std::monostate{};
}

BusProperties propertiesOf(const VariantMap& variants) {
    BusProperties properties;
    for (const auto& [name, variant] : variants) {
        properties.emplace(name, valueOf(variant));
    }
    return properties;
}

} // namespace

struct SystemBus::Connection {
    std::unique_ptr<sdbus::IConnection> bus;
    std::chrono::milliseconds perCall;
    Clock::time_point deadline;

    // The time left for the next call, or nothing once the budget is spent.
    std::optional<std::chrono::microseconds> nextTimeout() const {
        const auto left =
            std::chrono::duration_cast<std::chrono::microseconds>(deadline - Clock::now());
        if (left.count() <= 0) {
            return std::nullopt;
        }
        return std::min<std::chrono::microseconds>(perCall, left);
    }

    // Runs one call; any error, a spent budget or a reply of another shape gives nothing.
    template <class Result, class... Arguments>
    std::optional<Result> call(const std::string& service, const std::string& path,
                               const std::string& interface, const std::string& method,
                               const Arguments&... arguments) {
        const auto timeout = nextTimeout();
        if (!timeout) {
            return std::nullopt;
        }
        try {
            auto proxy = sdbus::createProxy(*bus, service, path);
            Result result;
            proxy->callMethod(method)
                .onInterface(interface)
                .withTimeout(*timeout)
                .withArguments(arguments...)
                .storeResultsTo(result);
            return result;
        } catch (const std::exception&) {
            return std::nullopt;
        }
    }

    std::optional<ManagedObjects> managedObjects(const std::string& service,
                                                 const std::string& path) {
        using Reply = std::map<sdbus::ObjectPath, std::map<std::string, VariantMap>>;
        const auto reply = call<Reply>(service, path, objectManagerInterface, "GetManagedObjects");
        if (!reply) {
            return std::nullopt;
        }
        ManagedObjects objects;
        for (const auto& [objectPath, interfaces] : *reply) {
            ObjectInterfaces converted;
            for (const auto& [name, variants] : interfaces) {
                converted.emplace(name, propertiesOf(variants));
            }
            objects.emplace_back(objectPath, std::move(converted));
        }
        return objects;
    }
};

SystemBus::SystemBus(std::unique_ptr<Connection> connection) : connection_(std::move(connection)) {}

SystemBus::~SystemBus() = default;

namespace {

// sdbus-c++ 1.2 finishes the handshake inside the constructor and waits for it without a limit:
// a stopped bus daemon, or a socket that accepts and never speaks, would hold it for ever. So
// the handshake runs on a thread of its own; one that misses the deadline is left behind, and
// the tool goes on without the bus and exits.
std::unique_ptr<sdbus::IConnection> handshake(SystemBus::Clock::time_point deadline) {
    struct Pending {
        std::mutex mutex;
        std::condition_variable done;
        bool finished = false;
        std::unique_ptr<sdbus::IConnection> bus;
    };
    const auto pending = std::make_shared<Pending>();
    try {
        std::thread([pending] {
            std::unique_ptr<sdbus::IConnection> bus;
            try {
                bus = sdbus::createSystemBusConnection();
            } catch (const std::exception&) {
            }
            const std::lock_guard lock(pending->mutex);
            pending->bus = std::move(bus);
            pending->finished = true;
            pending->done.notify_one();
        }).detach();
    } catch (const std::exception&) {
        return nullptr;
    }
    std::unique_lock lock(pending->mutex);
    if (!pending->done.wait_until(lock, deadline, [&] { return pending->finished; })) {
        return nullptr;
    }
    return std::move(pending->bus);
}

} // namespace

std::unique_ptr<SystemBus> SystemBus::connect(std::chrono::milliseconds perCall,
                                              Clock::time_point deadline) {
    auto bus = handshake(std::min(deadline, Clock::now() + perCall));
    if (!bus) {
        return nullptr;
    }
    try {
        // Calls that carry no timeout of their own still end within the per-call bound.
        bus->setMethodCallTimeout(perCall);
        return std::unique_ptr<SystemBus>(new SystemBus(
            std::make_unique<Connection>(Connection{std::move(bus), perCall, deadline})));
    } catch (const std::exception&) {
        return nullptr;
    }
}

std::vector<BusProperties> SystemBus::upowerDevices() {
    const auto paths = connection_->call<std::vector<sdbus::ObjectPath>>(
        upowerService, "/org/freedesktop/UPower", upowerService, "EnumerateDevices");
    std::vector<BusProperties> devices;
    for (const auto& path : paths.value_or(std::vector<sdbus::ObjectPath>{})) {
        if (const auto variants = connection_->call<VariantMap>(
                upowerService, path, propertiesInterface, "GetAll", upowerDevice)) {
            devices.push_back(propertiesOf(*variants));
        }
    }
    return devices;
}

std::optional<ManagedObjects> SystemBus::bluezObjects() {
    return connection_->managedObjects("org.bluez", "/");
}

std::optional<DriveFacts> SystemBus::udisksDrive(std::string_view kernelName) {
    const auto objects = connection_->managedObjects(udisksService, "/org/freedesktop/UDisks2");
    const auto drive = objects ? udisksDriveOf(*objects, kernelName) : std::nullopt;
    if (!drive) {
        return std::nullopt;
    }
    const auto& [path, interfaces] = *drive;
    DriveFacts facts;
    if (const auto found = interfaces.find("org.freedesktop.UDisks2.Drive");
        found != interfaces.end()) {
        facts.drive = found->second;
    }
    if (const auto nvme = interfaces.find(udisksNvme); nvme != interfaces.end()) {
        facts.nvme = nvme->second;
        if (const auto variants = connection_->call<VariantMap>(
                udisksService, path, udisksNvme, "SmartGetAttributes", VariantMap{})) {
            facts.nvmeAttributes = propertiesOf(*variants);
        }
    } else if (const auto ata = interfaces.find(udisksAta); ata != interfaces.end()) {
        facts.ata = ata->second;
        const auto rows = connection_->call<std::vector<AtaRow>>(
            udisksService, path, udisksAta, "SmartGetAttributes", VariantMap{});
        for (const auto& row : rows.value_or(std::vector<AtaRow>{})) {
            facts.ataAttributes.push_back(
                AtaAttribute{row.get<0>(), capped(row.get<1>()), row.get<6>(), row.get<7>()});
        }
    }
    return facts;
}

} // namespace brivane::system_tools
