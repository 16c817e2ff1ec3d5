// SMC reads over key tables built from arbitrary bytes: key information (size, type,
// attributes), value bytes, injected results and kernel errors, and the key count.
#include "backends/sim/sim_smc.h"
#include "smc/four_char_code.h"
#include "smc/smc.h"
#include "smc/smc_value_decoding.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <span>
#include <string>
#include <vector>

namespace {

using brivane::platform::sim::SimSMC;
using brivane::platform::sim::SimSMCFault;
using brivane::platform::sim::SimSMCKey;

constexpr std::string_view kKnownTypes[] = {"ui8 ", "ui16", "ui32", "sp1e", "sp3c", "sp4b",
                                            "sp5a", "spa5", "sp69", "sp78", "sp87", "sp96",
                                            "spb4", "spf0", "flt ", "fpe2", "fp2e", "{fds"};
constexpr std::string_view kKnownNames[] = {"#KEY", "FNum", "F0Md", "FS! ", "F0ID", "TC0P"};

class Input {
public:
    explicit Input(std::span<const std::uint8_t> data) : data_(data) {}
    bool empty() const { return data_.empty(); }
    std::uint8_t byte() {
        if (data_.empty()) {
            return 0;
        }
        const std::uint8_t b = data_.front();
        data_ = data_.subspan(1);
        return b;
    }
    std::uint32_t word() {
        std::uint32_t value = 0;
        for (int i = 0; i < 4; ++i) {
            value = value << 8 | byte();
        }
        return value;
    }
    std::vector<std::uint8_t> bytes(std::size_t count) {
        const std::size_t n = std::min(count, data_.size());
        std::vector<std::uint8_t> out(data_.begin(), data_.begin() + n);
        data_ = data_.subspan(n);
        return out;
    }

private:
    std::span<const std::uint8_t> data_;
};

struct FuzzKey {
    SimSMCKey key;
    std::string name;
};

FuzzKey readKey(Input& in) {
    const std::uint8_t flags = in.byte();
    FuzzKey k;
    if (flags & 0x01) {
        k.key.key = in.word();
    } else {
        k.key.key =
            brivane::platform::fourCharCode(kKnownNames[in.byte() % std::size(kKnownNames)]);
    }
    k.key.dataType =
        (flags & 0x02)
            ? in.word()
            : brivane::platform::fourCharCode(kKnownTypes[in.byte() % std::size(kKnownTypes)]);
    k.key.dataAttributes = in.byte();
    k.key.bytes = in.bytes(in.byte() % 48);
    k.key.dataSize = (flags & 0x04) ? in.word() : static_cast<std::uint32_t>(k.key.bytes.size());
    k.name = brivane::fourCharCodeString(k.key.key);
    return k;
}

// With no fault injected, a successful read decodes exactly the bytes the SMC returned, the
// rest zero: nothing from beyond the reported size may leak into the value.
void checkValue(brivane::SMC& smc, const FuzzKey& k) {
    const auto value = smc.getValue(k.name, true);
    if (!brivane::isFourCharName(k.name) || k.key.dataSize == 0) {
        if (value) {
            std::abort();
        }
        return;
    }
    brivane::SMCValueBytes expected{};
    const std::size_t n = std::min<std::size_t>({k.key.bytes.size(), k.key.dataSize, 32});
    std::copy_n(k.key.bytes.begin(), n, expected.begin());
    const auto decoded =
        brivane::decodeSMCValue(brivane::fourCharCodeString(k.key.dataType), expected);
    const bool same =
        value.has_value() == decoded.has_value() &&
        (!value || *value == *decoded || (std::isnan(*value) && std::isnan(*decoded)));
    if (!same) {
        std::abort();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    Input in({data, size});
    const std::uint8_t mode = in.byte();
    const int keyCount = 1 + in.byte() % 6;

    std::vector<FuzzKey> keys;
    for (int i = 0; i < keyCount && !in.empty(); ++i) {
        FuzzKey k = readKey(in);
        const bool known = std::any_of(keys.begin(), keys.end(), [&](const FuzzKey& other) {
            return other.key.key == k.key.key;
        });
        if (!known) {
            keys.push_back(std::move(k));
        }
    }
    auto sim = std::make_shared<SimSMC>();
    for (const auto& k : keys) {
        sim->setKey(k.key);
    }
    const bool faulty = mode & 0x01;
    if (faulty) {
        auto fault = SimSMCFault::onCall(1 + in.byte() % 8).answering(in.byte());
        if (mode & 0x02) {
            fault = fault.failingWith(static_cast<std::int32_t>(in.word()));
        }
        sim->addFault(fault);
        sim->addFault(SimSMCFault::onRequest(8).forIndex(in.byte()).answering(in.byte()));
    }

    brivane::SMC smc(sim, [](std::string_view) {});
    for (const auto& k : keys) {
        if (!faulty) {
            checkValue(smc, k);
        }
        smc.getValue(k.name, mode & 0x08);
        smc.getValue(k.name, mode & 0x10);
        smc.getStringValue(k.name);
    }
    // Enumerating costs one exchange per key: only for counts a fuzz run can afford.
    const auto count = smc.getValue("#KEY");
    if (count && *count < 4096) {
        const auto names = smc.getAllKeys();
        // An injected fault may answer a missing index with success, so only the count bounds
        // a faulty run.
        const auto requested = static_cast<std::size_t>(std::max(0.0, *count));
        const auto expected = std::min(requested, keys.size());
        if (names.size() > requested || (!faulty && names.size() != expected)) {
            std::abort();
        }
    }
    if (mode & 0x20) {
        smc.close();
    }
    return 0;
}
