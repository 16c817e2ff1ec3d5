#include "backends/linux/hwmon/hwmon_smc_transport.h"

#include "backends/linux/hwmon/hwmon_tree.h"

#include <algorithm>
#include <bit>

namespace brivane::platform::linux_backend {
namespace {

constexpr std::uint8_t kReadable = 0x80;

constexpr double kMilli = 1e-3; // m°C → °C
constexpr double kMicro = 1e-6; // µW → W
// Fan keys carry one digit: "F0Ac" to "F9Ac".
constexpr unsigned kFanLimit = 10;
// A fan descriptor: four bytes of type, zone and location, then the name, space-padded.
constexpr std::size_t kDescriptorSize = 16;
constexpr std::size_t kDescriptorNameOffset = 4;

std::string fanKey(unsigned fan, std::string_view suffix) {
    std::string key = "F";
    key.push_back(static_cast<char>('0' + fan));
    key.append(suffix);
    return key;
}

// A key with a fixed value until a channel is attached.
HwmonSMCTransport::Key makeKey(std::string_view name, std::string_view type, std::uint32_t size) {
    HwmonSMCTransport::Key key;
    key.code = fourCharCode(name);
    key.type = fourCharCode(type);
    key.size = size;
    key.attributes = kReadable;
    return key;
}

} // namespace

// What discovery found: the keys, by code, "#KEY" among them.
struct SMCCatalog {
    std::shared_ptr<ChannelSet> channels;
    std::vector<HwmonSMCTransport::Key> keys;
};

namespace {

class CatalogBuilder {
public:
    explicit CatalogBuilder(const std::shared_ptr<ChannelSet>& channels)
        : catalog_(std::make_shared<SMCCatalog>()) {
        catalog_->channels = channels;
    }

    void addChip(const HwmonChip& chip, bool appleSilicon);
    std::shared_ptr<const SMCCatalog> finish();

private:
    void addChannelKey(std::string_view name, const std::string& file, double scale);
    void addFan(unsigned fan, const HwmonChannel& channel, std::string_view name);

    std::shared_ptr<SMCCatalog> catalog_;
    unsigned fans_ = 0;
};

std::shared_ptr<const SMCCatalog> discoverSMC(const std::shared_ptr<ChannelSet>& channels) {
    CatalogBuilder builder(channels);
    for (const auto& chip : listHwmonChips(channels->root(), isSMCChipName)) {
        builder.addChip(chip, chip.identity.name == appleSiliconSMCChip);
    }
    return builder.finish();
}

std::shared_ptr<const SMCCatalog> CatalogBuilder::finish() {
    auto& keys = catalog_->keys;
    if (keys.empty()) {
        return catalog_;
    }
    if (fans_ > 0) {
        HwmonSMCTransport::Key count = makeKey("FNum", "ui8 ", 1);
        count.bytes[0] = static_cast<std::uint8_t>(fans_);
        keys.push_back(count);
    }
    // The first of two channels that claim one key wins.
    const auto byCode = [](const auto& a, const auto& b) { return a.code < b.code; };
    std::stable_sort(keys.begin(), keys.end(), byCode);
    keys.erase(std::unique(keys.begin(), keys.end(),
                           [](const auto& a, const auto& b) { return a.code == b.code; }),
               keys.end());
    HwmonSMCTransport::Key total = makeKey("#KEY", "ui32", 4);
    const auto count = static_cast<std::uint32_t>(keys.size() + 1);
    for (int i = 0; i < 4; ++i) {
        total.bytes[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(count >> (24 - 8 * i));
    }
    keys.insert(keys.begin(), total); // '#' sorts before every letter and digit
    return catalog_;
}

void CatalogBuilder::addChip(const HwmonChip& chip, bool appleSilicon) {
    for (const auto& channel : chip.channels) {
        const std::string_view label = channel.label ? std::string_view(*channel.label) : "";
        if (appleSilicon) {
            // Channels the table does not know are the hardware monitor's.
            const auto key = appleSiliconKeyForLabel(channel.kind, label);
            if (!key) {
                continue;
            }
            switch (channel.kind) {
            case SensorKind::temperature:
                addChannelKey(*key, channel.input, kMilli);
                break;
            case SensorKind::power:
                addChannelKey(*key, channel.input, kMicro);
                break;
            case SensorKind::fan:
                addFan(static_cast<unsigned>((*key)[1] - '0'), channel, label);
                break;
            default:
                break; // the table has no other kinds
            }
            continue;
        }
        // The Intel-Mac driver labels its temperatures with their key names and numbers its
        // fans from 1, one above the keys.
        if (channel.kind == SensorKind::temperature && isSMCKeyName(label) &&
            label.front() == 'T') {
            addChannelKey(label, channel.input, kMilli);
        } else if (channel.kind == SensorKind::fan && channel.index >= 1 &&
                   channel.index <= kFanLimit) {
            addFan(channel.index - 1, channel, label);
        }
    }
}

void CatalogBuilder::addChannelKey(std::string_view name, const std::string& file, double scale) {
    if (file.empty()) {
        return;
    }
    const auto channel = catalog_->channels->add(file);
    if (!channel) {
        return;
    }
    HwmonSMCTransport::Key key = makeKey(name, "flt ", 4);
    key.channel = channel;
    key.scale = scale;
    catalog_->keys.push_back(key);
}

void CatalogBuilder::addFan(unsigned fan, const HwmonChannel& channel, std::string_view name) {
    fans_ = std::max(fans_, fan + 1);
    addChannelKey(fanKey(fan, "Ac"), channel.input, 1);
    addChannelKey(fanKey(fan, "Mn"), channel.limit(SensorLimit::min), 1);
    addChannelKey(fanKey(fan, "Mx"), channel.limit(SensorLimit::max), 1);
    HwmonSMCTransport::Key descriptor = makeKey(fanKey(fan, "ID"), "{fds", kDescriptorSize);
    const auto text = descriptor.bytes.begin() + kDescriptorNameOffset;
    std::fill_n(text, kDescriptorSize - kDescriptorNameOffset, std::uint8_t{' '});
    std::copy_n(name.begin(), std::min(name.size(), kDescriptorSize - kDescriptorNameOffset), text);
    catalog_->keys.push_back(descriptor);
}

// The catalog as the key table the request answering reads.
class CatalogTable final : public SMCKeyTable {
public:
    explicit CatalogTable(const SMCCatalog& catalog) : catalog_(catalog) {}

    const HwmonSMCTransport::Key* find(std::uint32_t wanted) const {
        const auto& keys = catalog_.keys;
        const auto found = std::lower_bound(
            keys.begin(), keys.end(), wanted,
            [](const HwmonSMCTransport::Key& key, std::uint32_t c) { return key.code < c; });
        return found != keys.end() && found->code == wanted ? &*found : nullptr;
    }
    std::optional<std::uint32_t> keyAt(std::uint32_t index) const override {
        return index < catalog_.keys.size() ? std::optional(catalog_.keys[index].code)
                                            : std::nullopt;
    }
    std::optional<SMCKeyInfo> keyInfo(std::uint32_t code) const override {
        const auto* key = find(code);
        return key ? std::optional(SMCKeyInfo{key->size, key->type, key->attributes})
                   : std::nullopt;
    }
    bool valueBytes(std::uint32_t code,
                    std::span<std::uint8_t, kSMCValueCapacity> bytes) const override {
        const auto& key = *find(code);
        if (!key.channel) {
            std::copy(key.bytes.begin(), key.bytes.end(), bytes.begin());
            return true;
        }
        const auto raw = catalog_.channels->value(*key.channel);
        if (!raw) {
            return false;
        }
        // "flt " is a little-endian single.
        const auto bits = std::bit_cast<std::uint32_t>(static_cast<float>(*raw * key.scale));
        for (int i = 0; i < 4; ++i) {
            bytes[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(bits >> (8 * i));
        }
        return true;
    }

private:
    const SMCCatalog& catalog_;
};

} // namespace

HwmonSMCTransport::HwmonSMCTransport(const std::string& sysRoot, SensorPoller::Setup setup)
    : poller_(sysRoot, discoverSMC, [&setup] {
          setup.name = "smc";
          setup.timing.rediscoverEvery = 0; // the machine's own chip: only when it went away
          return std::move(setup);
      }()) {}

SMCOpenResult HwmonSMCTransport::open() {
    // Opening may wait for the walk, not for values, and no longer than a first request would.
    const auto catalog = poller_.found(poller_.timing().firstWait);
    if (!catalog || catalog->keys.empty()) {
        return {0, SMCOpenFailure{SMCOpenStep::absent, kIOReturnNotFound}};
    }
    connection_.store(kConnection, std::memory_order_release);
    return {kConnection, std::nullopt};
}

KernReturn HwmonSMCTransport::close(std::uint32_t connection) {
    if (connection == 0 || connection != connection_.load(std::memory_order_acquire)) {
        return kMachSendInvalidDest;
    }
    connection_.store(0, std::memory_order_release);
    return kIOReturnSuccess;
}

const char* HwmonSMCTransport::errorText(KernReturn code) const {
    return machErrorString(code);
}

std::string_view HwmonSMCTransport::absenceNote() const {
    return "No Apple SMC on this machine (no applesmc or macsmc_hwmon hardware monitor): "
           "the other hardware monitors are read instead.";
}

KernReturn HwmonSMCTransport::call(std::uint32_t connection, std::uint32_t selector,
                                   SMCInputBlock input, SMCOutputBlock output) {
    if (connection == 0 || connection != connection_.load(std::memory_order_acquire)) {
        return kMachSendInvalidDest;
    }
    if (selector != rawValue(SMCKeys::kernelIndex)) {
        return kIOReturnBadArgument;
    }
    const auto catalog = poller_.current();
    if (!catalog) {
        return kIOReturnNotFound;
    }
    const CatalogTable table(*catalog);
    const SMCRequest request = readSMCRequest(input);
    // A sensor the poller has not read yet is no reading, not a failing one.
    const auto* key = isRequest(request, SMCKeys::readBytes) ? table.find(request.key) : nullptr;
    if (key && key->channel && catalog->channels->pending(*key->channel)) {
        answerSMCResult(output, request.key, kSMCResultKeyNotFound);
        return kIOReturnSuccess;
    }
    return answerSMCRequest(table, request, output);
}

} // namespace brivane::platform::linux_backend
