#pragma once

#include "backends/posix/shared/smc_key_table.h"
#include "platform/smc_transport.h"

#include <array>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <span>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace brivane::platform::sim {

// One key of the simulated SMC. `dataSize` is what key information reports; it may differ
// from the number of stored bytes (a byte read returns the stored bytes, zero-filled).
struct SimSMCKey {
    std::uint32_t key = 0;
    std::uint32_t dataType = 0;
    std::uint32_t dataSize = 0;
    std::vector<std::uint8_t> bytes;
    std::uint8_t dataAttributes = 0;
};

// A key whose reported size is the number of its bytes.
SimSMCKey simKey(std::string_view name, std::string_view type, std::vector<std::uint8_t> bytes,
                 std::uint8_t attributes = 0x80);

// "#KEY" (type "ui32") counting `keys` plus itself, followed by `keys`.
std::vector<SimSMCKey> withKeyCount(std::vector<SimSMCKey> keys);

// An injected failure. Every field that is set must match the exchange; the first matching
// fault answers it: with `kernelCode` when non-zero (the call fails), else with `result` in
// the output block. `remaining` limits how often it fires (absent: always).
struct SimSMCFault {
    std::optional<std::uint8_t> kind;        // request kind (data8)
    std::optional<std::uint32_t> key;        // key code of a key request
    std::optional<std::uint32_t> index;      // index argument of an index request
    std::optional<std::uint64_t> callNumber; // 1-based number of the exchange
    KernReturn kernelCode = kIOReturnSuccess;
    std::uint8_t result = 0;
    std::optional<int> remaining;

    static SimSMCFault onRequest(std::uint8_t kind) {
        SimSMCFault fault;
        fault.kind = kind;
        return fault;
    }
    static SimSMCFault onCall(std::uint64_t number) {
        SimSMCFault fault;
        fault.callNumber = number;
        return fault;
    }
    SimSMCFault forKey(std::uint32_t code) const { return with(&SimSMCFault::key, code); }
    SimSMCFault forIndex(std::uint32_t i) const { return with(&SimSMCFault::index, i); }
    SimSMCFault failingWith(KernReturn code) const { return with(&SimSMCFault::kernelCode, code); }
    SimSMCFault answering(std::uint8_t r) const { return with(&SimSMCFault::result, r); }
    SimSMCFault times(int n) const { return with(&SimSMCFault::remaining, n); }

private:
    template <typename Field, typename Value> SimSMCFault with(Field field, Value value) const {
        SimSMCFault copy = *this;
        copy.*field = value;
        return copy;
    }
};

// Answers parameter blocks the way the kernel's SMC user client does: key information, byte
// reads and index reads against a key table, result 0x84 for a key it does not hold. Each
// open gives a new connection; a closed or unknown one fails as the kernel does. Counts
// every exchange by request kind and can record the input blocks. Thread-safe.
class SimSMC final : public SMCTransport, private SMCKeyTable {
public:
    static constexpr std::uint32_t kFirstConnection = 0x5103;

    // Rewrites the value bytes of a byte read just before they are returned.
    using ValueHook = std::function<void(std::uint32_t key, std::span<std::uint8_t, 32> bytes)>;

    explicit SimSMC(std::vector<SimSMCKey> keys = {});

    SMCOpenResult open() override;
    KernReturn call(std::uint32_t connection, std::uint32_t selector, SMCInputBlock input,
                    SMCOutputBlock output) override;
    KernReturn close(std::uint32_t connection) override;
    const char* errorText(KernReturn code) const override;

    // Adds the key, or replaces the one with the same code in place.
    void setKey(SimSMCKey key);
    void setValueHook(ValueHook hook);

    void failOpen(SMCOpenFailure failure);
    void failClose(KernReturn code);
    void addFault(SimSMCFault fault);
    void clearFaults();

    std::uint64_t exchanges(std::uint8_t kind) const;
    std::uint64_t totalExchanges() const;
    void resetCounters();
    std::uint32_t openCount() const;
    std::uint32_t closeCount() const;

    void recordRequests(bool on);
    std::vector<std::array<std::uint8_t, kSMCParamBlockSize>> recordedRequests() const;

private:
    // The key table, read under the lock.
    std::optional<std::uint32_t> keyAt(std::uint32_t index) const override;
    std::optional<SMCKeyInfo> keyInfo(std::uint32_t key) const override;
    bool valueBytes(std::uint32_t key,
                    std::span<std::uint8_t, kSMCValueCapacity> bytes) const override;
    std::optional<SimSMCFault> matchFault(std::uint8_t kind, std::uint32_t key, std::uint32_t index,
                                          std::uint64_t callNumber);

    mutable std::mutex mutex_;
    std::vector<SimSMCKey> keys_;
    std::unordered_map<std::uint32_t, std::size_t> positions_;
    ValueHook valueHook_;
    std::optional<SMCOpenFailure> openFailure_;
    KernReturn closeCode_ = kIOReturnSuccess;
    std::vector<SimSMCFault> faults_;
    std::unordered_set<std::uint32_t> openConnections_;
    std::uint32_t nextConnection_ = kFirstConnection;
    std::uint32_t opens_ = 0;
    std::uint32_t closes_ = 0;
    std::uint64_t calls_ = 0;
    std::array<std::uint64_t, 256> exchangesByKind_{};
    bool recording_ = false;
    std::vector<std::array<std::uint8_t, kSMCParamBlockSize>> recorded_;
};

} // namespace brivane::platform::sim
