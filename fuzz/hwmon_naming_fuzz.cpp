// Any bytes as a hwmon listing, one chip per line: "name<TAB>link target<TAB>node". Each field
// also goes through the attribute-name, label, key and device-address rules. Chip names must
// come out unique, one per chip, without '/' or ' '; a parsed attribute must name its own stem
// and its item after a '_' (the bare stem has none); a label mapped to an SMC key must give a
// key name; an address is one path component.
#include "backends/linux/hwmon/hwmon_naming.h"

#include <cstdlib>
#include <set>
#include <string>
#include <string_view>
#include <vector>

using namespace brivane::platform::linux_backend;
using brivane::platform::SensorKind;

namespace {

void checkField(std::string_view field) {
    if (const auto attribute = parseAttributeName(field)) {
        const std::string stem = attributeStem(attribute->kind, attribute->index);
        const std::string item(attribute->item);
        if (!field.starts_with(stem) ||
            field.substr(stem.size()) != (item.empty() ? "" : "_" + item))
            std::abort();
    }
    const auto label = cleanLabel(field);
    if (label && (label->empty() || label->front() == ' ' || label->back() == '\n'))
        std::abort();
    for (const auto kind : {SensorKind::temperature, SensorKind::fan, SensorKind::power}) {
        const auto key = appleSiliconKeyForLabel(kind, label.value_or(""));
        if (key && !(kind == SensorKind::fan ? key->size() == 2 : isSMCKeyName(*key)))
            std::abort();
    }
    if (deviceAddressOf(field).text.find('/') != std::string::npos)
        std::abort();
    (void)belongsToPowerSupply(field);
}

std::vector<std::string_view> split(std::string_view text, char separator) {
    std::vector<std::string_view> parts;
    for (;;) {
        const auto at = text.find(separator);
        parts.push_back(text.substr(0, at));
        if (at == std::string_view::npos)
            return parts;
        text.remove_prefix(at + 1);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    std::vector<ChipIdentity> chips;
    for (const auto line : split(input, '\n')) {
        const auto fields = split(line, '\t');
        for (const auto field : fields)
            checkField(field);
        chips.push_back({std::string(fields[0]), std::string(fields.size() > 1 ? fields[1] : ""),
                         std::string(fields.size() > 2 ? fields[2] : "")});
    }
    const auto names = uniqueChipNames(chips);
    if (names.size() != chips.size() || std::set(names.begin(), names.end()).size() != names.size())
        std::abort();
    for (const auto& name : names)
        if (name.find_first_of("/ ") != std::string::npos)
            std::abort();
    return 0;
}
