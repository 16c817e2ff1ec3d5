#include "smc/smc_data_type.h"

#include <array>

namespace brivane {

namespace {

struct TypeName {
    SMCDataType type;
    std::string_view raw;
};

constexpr std::array<TypeName, 18> kTypeNames{{
    {SMCDataType::UI8, "ui8 "},
    {SMCDataType::UI16, "ui16"},
    {SMCDataType::UI32, "ui32"},
    {SMCDataType::SP1E, "sp1e"},
    {SMCDataType::SP3C, "sp3c"},
    {SMCDataType::SP4B, "sp4b"},
    {SMCDataType::SP5A, "sp5a"},
    {SMCDataType::SPA5, "spa5"},
    {SMCDataType::SP69, "sp69"},
    {SMCDataType::SP78, "sp78"},
    {SMCDataType::SP87, "sp87"},
    {SMCDataType::SP96, "sp96"},
    {SMCDataType::SPB4, "spb4"},
    {SMCDataType::SPF0, "spf0"},
    {SMCDataType::FLT, "flt "},
    {SMCDataType::FPE2, "fpe2"},
    {SMCDataType::FP2E, "fp2e"},
    {SMCDataType::FDS, "{fds"},
}};

} // namespace

std::optional<SMCDataType> smcDataTypeFromRawValue(std::string_view raw) {
    for (const auto& entry : kTypeNames) {
        if (entry.raw == raw) {
            return entry.type;
        }
    }
    return std::nullopt;
}

std::string_view rawValue(SMCDataType type) {
    for (const auto& entry : kTypeNames) {
        if (entry.type == type) {
            return entry.raw;
        }
    }
    return {};
}

} // namespace brivane
