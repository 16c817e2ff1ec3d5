#pragma once

#include "smc/four_char_code.h"

#include <cstdint>
#include <optional>
#include <string_view>

namespace brivane {

// The value type codes the companion knows; each enumerator's value is its four-character code.
enum class SMCDataType : std::uint32_t {
    UI8 = fourCharCode("ui8 "),
    UI16 = fourCharCode("ui16"),
    UI32 = fourCharCode("ui32"),
    SP1E = fourCharCode("sp1e"),
    SP3C = fourCharCode("sp3c"),
    SP4B = fourCharCode("sp4b"),
    SP5A = fourCharCode("sp5a"),
    SPA5 = fourCharCode("spa5"),
    SP69 = fourCharCode("sp69"),
    SP78 = fourCharCode("sp78"),
    SP87 = fourCharCode("sp87"),
    SP96 = fourCharCode("sp96"),
    SPB4 = fourCharCode("spb4"),
    SPF0 = fourCharCode("spf0"),
    FLT = fourCharCode("flt "),
    FPE2 = fourCharCode("fpe2"),
    FP2E = fourCharCode("fp2e"),
    FDS = fourCharCode("{fds"),
};

// Absent for any text that is not one of the codes above (trailing spaces count).
std::optional<SMCDataType> smcDataTypeFromRawValue(std::string_view raw);
std::string_view rawValue(SMCDataType type);

// Fan control modes; 2 is not a mode.
enum class FanMode : int {
    automatic = 0,
    forced = 1,
    auto3 = 3,
};

constexpr std::optional<FanMode> fanModeFromRawValue(int raw) {
    if (raw == 0 || raw == 1 || raw == 3) {
        return static_cast<FanMode>(raw);
    }
    return std::nullopt;
}

constexpr int rawValue(FanMode mode) {
    return static_cast<int>(mode);
}

} // namespace brivane
