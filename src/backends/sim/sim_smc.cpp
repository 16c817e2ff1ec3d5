#include "backends/sim/sim_smc.h"

#include <algorithm>

namespace brivane::platform::sim {

SimSMCKey simKey(std::string_view name, std::string_view type, std::vector<std::uint8_t> bytes,
                 std::uint8_t attributes) {
    SimSMCKey key;
    key.key = fourCharCode(name);
    key.dataType = fourCharCode(type);
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
    const SMCRequest request = readSMCRequest(input);
    ++exchangesByKind_[request.kind];
    if (recording_) {
        auto& copy = recorded_.emplace_back();
        std::copy(input.begin(), input.end(), copy.begin());
    }
    if (!openConnections_.contains(connection)) {
        return kMachSendInvalidDest;
    }
    if (selector != rawValue(SMCKeys::kernelIndex)) {
        return kIOReturnBadArgument;
    }
    if (const auto fault = matchFault(request.kind, request.key, request.index, callNumber)) {
        if (fault->kernelCode != kIOReturnSuccess) {
            return fault->kernelCode;
        }
        answerSMCResult(output, request.key, fault->result);
        return kIOReturnSuccess;
    }
    return answerSMCRequest(*this, request, output);
}

std::optional<std::uint32_t> SimSMC::keyAt(std::uint32_t index) const {
    return index < keys_.size() ? std::optional(keys_[index].key) : std::nullopt;
}

std::optional<SMCKeyInfo> SimSMC::keyInfo(std::uint32_t key) const {
    const auto position = positions_.find(key);
    if (position == positions_.end()) {
        return std::nullopt;
    }
    const SimSMCKey& found = keys_[position->second];
    return SMCKeyInfo{found.dataSize, found.dataType, found.dataAttributes};
}

bool SimSMC::valueBytes(std::uint32_t key, std::span<std::uint8_t, kSMCValueCapacity> bytes) const {
    const SimSMCKey& found = keys_[positions_.at(key)];
    std::copy_n(found.bytes.begin(), std::min(found.bytes.size(), kSMCValueCapacity),
                bytes.begin());
    if (valueHook_) {
        valueHook_(key, bytes);
    }
    return true;
}

std::optional<SimSMCFault> SimSMC::matchFault(std::uint8_t kind, std::uint32_t key,
                                              std::uint32_t index, std::uint64_t callNumber) {
    for (auto& fault : faults_) {
        if (fault.remaining && *fault.remaining <= 0) {
            continue;
        }
        const bool matches =
            (!fault.kind || *fault.kind == kind) &&
            (!fault.key || (*fault.key == key && kind != rawValue(SMCKeys::readIndex))) &&
            (!fault.index || (*fault.index == index && kind == rawValue(SMCKeys::readIndex))) &&
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
