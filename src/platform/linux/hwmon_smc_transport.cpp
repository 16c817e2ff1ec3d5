#include "platform/linux/hwmon_smc_transport.h"

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
    key.code = smcCode(name);
    key.type = smcCode(type);
    key.size = size;
    key.attributes = kReadable;
    return key;
}

} // namespace

HwmonSMCTransport::HwmonSMCTransport(std::string sysRoot, SensorTiming timing,
                                     host::KeptValue::Pread pread)
    : channels_(sysRoot, timing, pread) {}

SMCOpenResult HwmonSMCTransport::open() {
    const std::lock_guard lock(openLock_);
    if (!discovered_) {
        discover();
        discovered_ = true;
    }
    if (keys_.empty()) {
        return {0, SMCOpenFailure{SMCOpenStep::iteratorNext, kIOReturnSuccess}};
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

void HwmonSMCTransport::discover() {
    const auto chips = listHwmonChips(channels_.root(), isSMCChipName);
    if (chips.empty()) {
        return;
    }
    for (const auto& chip : chips) {
        addChip(chip, chip.identity.name == appleSiliconSMCChip);
    }
    if (fans_ > 0) {
        Key count = makeKey("FNum", "ui8 ", 1);
        count.bytes[0] = static_cast<std::uint8_t>(fans_);
        keys_.push_back(count);
    }
    // The first of two channels that claim one key wins.
    std::stable_sort(keys_.begin(), keys_.end(),
                     [](const Key& a, const Key& b) { return a.code < b.code; });
    keys_.erase(std::unique(keys_.begin(), keys_.end(),
                            [](const Key& a, const Key& b) { return a.code == b.code; }),
                keys_.end());
    Key total = makeKey("#KEY", "ui32", 4);
    const auto count = static_cast<std::uint32_t>(keys_.size() + 1);
    for (int i = 0; i < 4; ++i) {
        total.bytes[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(count >> (24 - 8 * i));
    }
    keys_.insert(keys_.begin(), total); // '#' sorts before every letter and digit
    channels_.start();
}

void HwmonSMCTransport::addChip(const HwmonChip& chip, bool appleSilicon) {
    for (const auto& channel : chip.channels) {
        const std::string_view label = channel.label ? std::string_view(*channel.label) : "";
        if (appleSilicon) {
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

void HwmonSMCTransport::addChannelKey(std::string_view name, const std::string& file,
                                      double scale) {
    if (file.empty()) {
        return;
    }
    const auto channel = channels_.add(file);
    if (!channel) {
        return;
    }
    Key key = makeKey(name, "flt ", 4);
    key.channel = channel;
    key.scale = scale;
    keys_.push_back(key);
}

void HwmonSMCTransport::addFan(unsigned fan, const HwmonChannel& channel, std::string_view name) {
    fans_ = std::max(fans_, fan + 1);
    addChannelKey(fanKey(fan, "Ac"), channel.input, 1);
    addChannelKey(fanKey(fan, "Mn"), channel.minimum, 1);
    addChannelKey(fanKey(fan, "Mx"), channel.maximum, 1);
    Key descriptor = makeKey(fanKey(fan, "ID"), "{fds", kDescriptorSize);
    const auto text = descriptor.bytes.begin() + kDescriptorNameOffset;
    std::fill_n(text, kDescriptorSize - kDescriptorNameOffset, std::uint8_t{' '});
    std::copy_n(name.begin(), std::min(name.size(), kDescriptorSize - kDescriptorNameOffset), text);
    keys_.push_back(descriptor);
}

const HwmonSMCTransport::Key* HwmonSMCTransport::find(std::uint32_t wanted) const {
    const auto found =
        std::lower_bound(keys_.begin(), keys_.end(), wanted,
                         [](const Key& key, std::uint32_t c) { return key.code < c; });
    return found != keys_.end() && found->code == wanted ? &*found : nullptr;
}

std::optional<std::uint32_t> HwmonSMCTransport::keyAt(std::uint32_t index) const {
    return index < keys_.size() ? std::optional(keys_[index].code) : std::nullopt;
}

std::optional<SMCKeyInfo> HwmonSMCTransport::keyInfo(std::uint32_t code) const {
    const Key* key = find(code);
    return key ? std::optional(SMCKeyInfo{key->size, key->type, key->attributes}) : std::nullopt;
}

bool HwmonSMCTransport::valueBytes(std::uint32_t code,
                                   std::span<std::uint8_t, kSMCValueCapacity> bytes) const {
    const Key& key = *find(code);
    if (!key.channel) {
        std::copy(key.bytes.begin(), key.bytes.end(), bytes.begin());
        return true;
    }
    const auto raw = channels_.value(*key.channel);
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

KernReturn HwmonSMCTransport::call(std::uint32_t connection, std::uint32_t selector,
                                   SMCInputBlock input, SMCOutputBlock output) {
    if (connection == 0 || connection != connection_.load(std::memory_order_acquire)) {
        return kMachSendInvalidDest;
    }
    if (selector != kSMCSelector) {
        return kIOReturnBadArgument;
    }
    return answerSMCRequest(*this, readSMCRequest(input), output);
}

} // namespace brivane::platform::linux_backend
