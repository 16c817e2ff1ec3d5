#include "platform/sim/sim_smc.h"

#include <algorithm>
#include <cstring>

namespace brivane::platform::sim {

namespace {

// Offsets of the fields the user client reads and writes in the 80-byte block.
constexpr std::size_t kKeyOffset = 0;
constexpr std::size_t kDataSizeOffset = 28;
constexpr std::size_t kDataTypeOffset = 32;
constexpr std::size_t kAttributesOffset = 36;
constexpr std::size_t kResultOffset = 40;
constexpr std::size_t kKindOffset = 42;
constexpr std::size_t kIndexOffset = 44;
constexpr std::size_t kBytesOffset = 48;
constexpr std::size_t kValueCapacity = 32;
constexpr std::uint32_t kSelector = 2;

std::uint32_t load32(SMCInputBlock block, std::size_t offset) {
    std::uint32_t value = 0;
    std::memcpy(&value, block.data() + offset, sizeof value);
    return value;
}

void store32(SMCOutputBlock block, std::size_t offset, std::uint32_t value) {
    std::memcpy(block.data() + offset, &value, sizeof value);
}

} // namespace

SimSMCKey simKey(std::string_view name, std::string_view type, std::vector<std::uint8_t> bytes,
                 std::uint8_t attributes) {
    SimSMCKey key;
    key.key = simCode(name);
    key.dataType = simCode(type);
    key.dataSize = static_cast<std::uint32_t>(bytes.size());
    key.bytes = std::move(bytes);
    key.dataAttributes = attributes;
    return key;
}

std::vector<SimSMCKey> withKeyCount(std::vector<SimSMCKey> keys) {
    const auto count = static_cast<std::uint32_t>(keys.size() + 1);
    std::vector<SimSMCKey> table;
    table.reserve(keys.size() + 1);
    table.push_back(
        simKey("#KEY", "ui32",
               {static_cast<std::uint8_t>(count >> 24), static_cast<std::uint8_t>(count >> 16),
                static_cast<std::uint8_t>(count >> 8), static_cast<std::uint8_t>(count)},
               0xD4));
    std::move(keys.begin(), keys.end(), std::back_inserter(table));
    return table;
}

SimSMC::SimSMC(std::vector<SimSMCKey> keys) {
    for (auto& key : keys) {
        setKey(std::move(key));
    }
}

SMCOpenResult SimSMC::open() {
    const std::lock_guard lock(mutex_);
    ++opens_;
    if (openFailure_) {
        return {0, openFailure_};
    }
    const std::uint32_t connection = nextConnection_++;
    openConnections_.insert(connection);
    return {connection, std::nullopt};
}

KernReturn SimSMC::close(std::uint32_t connection) {
    const std::lock_guard lock(mutex_);
    ++closes_;
    if (openConnections_.erase(connection) == 0) {
        return kMachSendInvalidDest;
    }
    return closeCode_;
}

const char* SimSMC::errorText(KernReturn code) const {
    return machErrorString(code);
}

KernReturn SimSMC::call(std::uint32_t connection, std::uint32_t selector, SMCInputBlock input,
                        SMCOutputBlock output) {
    const std::lock_guard lock(mutex_);
    const std::uint64_t callNumber = ++calls_;
    ++exchangesByKind_[input[kKindOffset]];
    if (recording_) {
        auto& copy = recorded_.emplace_back();
        std::copy(input.begin(), input.end(), copy.begin());
    }
    if (!openConnections_.contains(connection)) {
        return kMachSendInvalidDest;
    }
    if (selector != kSelector) {
        return kIOReturnBadArgument;
    }
    return answer(input, output, callNumber);
}

KernReturn SimSMC::answer(SMCInputBlock input, SMCOutputBlock output, std::uint64_t callNumber) {
    const std::uint8_t kind = input[kKindOffset];
    const std::uint32_t code = load32(input, kKeyOffset);
    const std::uint32_t index = load32(input, kIndexOffset);

    if (const auto fault = matchFault(kind, code, index, callNumber)) {
        if (fault->kernelCode != kIOReturnSuccess) {
            return fault->kernelCode;
        }
        std::fill(output.begin(), output.end(), std::uint8_t{0});
        store32(output, kKeyOffset, code);
        output[kResultOffset] = fault->result;
        return kIOReturnSuccess;
    }

    std::fill(output.begin(), output.end(), std::uint8_t{0});
    if (kind == kKindReadIndex) {
        if (index < keys_.size()) {
            store32(output, kKeyOffset, keys_[index].key);
        } else {
            output[kResultOffset] = kResultKeyNotFound;
        }
        return kIOReturnSuccess;
    }
    if (kind != kKindReadKeyInfo && kind != kKindReadBytes) {
        return kIOReturnBadArgument;
    }

    store32(output, kKeyOffset, code);
    const auto position = positions_.find(code);
    if (position == positions_.end()) {
        output[kResultOffset] = kResultKeyNotFound;
        return kIOReturnSuccess;
    }
    const SimSMCKey& key = keys_[position->second];
    if (kind == kKindReadKeyInfo) {
        store32(output, kDataSizeOffset, key.dataSize);
        store32(output, kDataTypeOffset, key.dataType);
        output[kAttributesOffset] = key.dataAttributes;
        return kIOReturnSuccess;
    }

    std::array<std::uint8_t, kValueCapacity> value{};
    std::copy_n(key.bytes.begin(), std::min(key.bytes.size(), kValueCapacity), value.begin());
    if (valueHook_) {
        valueHook_(key.key, value);
    }
    const std::size_t requested = load32(input, kDataSizeOffset);
    std::copy_n(value.begin(), std::min(requested, kValueCapacity), output.begin() + kBytesOffset);
    return kIOReturnSuccess;
}

std::optional<SimSMCFault> SimSMC::matchFault(std::uint8_t kind, std::uint32_t key,
                                              std::uint32_t index, std::uint64_t callNumber) {
    for (auto& fault : faults_) {
        if (fault.remaining && *fault.remaining <= 0) {
            continue;
        }
        const bool matches = (!fault.kind || *fault.kind == kind) &&
                             (!fault.key || (*fault.key == key && kind != kKindReadIndex)) &&
                             (!fault.index || (*fault.index == index && kind == kKindReadIndex)) &&
                             (!fault.callNumber || *fault.callNumber == callNumber);
        if (matches) {
            if (fault.remaining) {
                --*fault.remaining;
            }
            return fault;
        }
    }
    return std::nullopt;
}

void SimSMC::setKey(SimSMCKey key) {
    const std::lock_guard lock(mutex_);
    if (const auto position = positions_.find(key.key); position != positions_.end()) {
        keys_[position->second] = std::move(key);
        return;
    }
    positions_.emplace(key.key, keys_.size());
    keys_.push_back(std::move(key));
}

void SimSMC::setValueHook(ValueHook hook) {
    const std::lock_guard lock(mutex_);
    valueHook_ = std::move(hook);
}

void SimSMC::failOpen(SMCOpenFailure failure) {
    const std::lock_guard lock(mutex_);
    openFailure_ = failure;
}

void SimSMC::failClose(KernReturn code) {
    const std::lock_guard lock(mutex_);
    closeCode_ = code;
}

void SimSMC::addFault(SimSMCFault fault) {
    const std::lock_guard lock(mutex_);
    faults_.push_back(fault);
}

void SimSMC::clearFaults() {
    const std::lock_guard lock(mutex_);
    faults_.clear();
}

std::uint64_t SimSMC::exchanges(std::uint8_t kind) const {
    const std::lock_guard lock(mutex_);
    return exchangesByKind_[kind];
}

std::uint64_t SimSMC::totalExchanges() const {
    const std::lock_guard lock(mutex_);
    return calls_;
}

void SimSMC::resetCounters() {
    const std::lock_guard lock(mutex_);
    calls_ = 0;
    exchangesByKind_.fill(0);
    recorded_.clear();
}

std::uint32_t SimSMC::openCount() const {
    const std::lock_guard lock(mutex_);
    return opens_;
}

std::uint32_t SimSMC::closeCount() const {
    const std::lock_guard lock(mutex_);
    return closes_;
}

void SimSMC::recordRequests(bool on) {
    const std::lock_guard lock(mutex_);
    recording_ = on;
}

std::vector<std::array<std::uint8_t, kSMCParamBlockSize>> SimSMC::recordedRequests() const {
    const std::lock_guard lock(mutex_);
    return recorded_;
}

} // namespace brivane::platform::sim
