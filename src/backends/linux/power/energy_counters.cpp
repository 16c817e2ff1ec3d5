#include "backends/linux/power/energy_counters.h"

#include "base/whole_number.h"

namespace brivane::platform::linux_backend {

namespace {

std::optional<unsigned> hexNumber(std::string_view text) {
    return base::wholeNumber<unsigned>(text, 16);
}

} // namespace

std::optional<PowercapZoneID> parsePowercapZoneDirectory(std::string_view name) {
    constexpr std::string_view prefix = "intel-rapl:";
    if (name.substr(0, prefix.size()) != prefix)
        return std::nullopt;
    name.remove_prefix(prefix.size());
    const std::size_t colon = name.find(':');
    const auto package = hexNumber(name.substr(0, colon));
    if (!package)
        return std::nullopt;
    if (colon == std::string_view::npos)
        return PowercapZoneID{*package, std::nullopt};
    const auto subzone = hexNumber(name.substr(colon + 1));
    if (!subzone)
        return std::nullopt;
    return PowercapZoneID{*package, *subzone};
}

PowercapDomain powercapDomain(std::string_view nameFile) {
    while (!nameFile.empty() && (nameFile.back() == '\n' || nameFile.back() == ' '))
        nameFile.remove_suffix(1);
    constexpr std::string_view packagePrefix = "package-";
    if (nameFile.substr(0, packagePrefix.size()) == packagePrefix &&
        hexNumber(nameFile.substr(packagePrefix.size())))
        return PowercapDomain::package;
    if (nameFile == "core")
        return PowercapDomain::core;
    if (nameFile == "uncore")
        return PowercapDomain::uncore;
    if (nameFile == "dram")
        return PowercapDomain::dram;
    if (nameFile == "psys")
        return PowercapDomain::platform;
    return PowercapDomain::other;
}

std::uint64_t counterAdvance(std::uint64_t older, std::uint64_t newer, std::uint64_t range) {
    if (newer >= older)
        return newer - older;
    if (range == 0 || older > range)
        return 0;
    return (range - older) + newer;
}

} // namespace brivane::platform::linux_backend
