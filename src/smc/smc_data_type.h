#pragma once

#include "smc/four_char_code.h"

#include <cstdint>
#include <optional>
#include <string_view>

namespace brivane {

// The value type codes the companion knows; each enumerator's value is its four-character code.
enum class SMCDataType : std::uint32_t {
    UI8 = platform::fourCharCode("ui8 "),
    UI16 = platform::fourCharCode("ui16"),
    UI32 = platform::fourCharCode("ui32"),
    SP1E = platform::fourCharCode("sp1e"),
    SP3C = platform::fourCharCode("sp3c"),
    SP4B = platform::fourCharCode("sp4b"),
    SP5A = platform::fourCharCode("sp5a"),
    SPA5 = platform::fourCharCode("spa5"),
    SP69 = platform::fourCharCode("sp69"),
    SP78 = platform::fourCharCode("sp78"),
    SP87 = platform::fourCharCode("sp87"),
    SP96 = platform::fourCharCode("sp96"),
    SPB4 = platform::fourCharCode("spb4"),
    SPF0 = platform::fourCharCode("spf0"),
    FLT = platform::fourCharCode("flt "),
    FPE2 = platform::fourCharCode("fpe2"),
    FP2E = platform::fourCharCode("fp2e"),
    FDS = platform::fourCharCode("{fds"),
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
