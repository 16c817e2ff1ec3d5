#include "core/disk_name.h"

#include <cstddef>

namespace brivane {
namespace {

constexpr std::size_t maximumDigits = 6;
constexpr int maximumSlices = 3;

bool isAsciiDigit(char c) {
    return c >= '0' && c <= '9';
}

// Consumes a run of digits at position; true when it held 1 to 6 of them.
bool consumeNumber(std::string_view name, std::size_t& position) {
    const std::size_t start = position;
    while (position < name.size() && isAsciiDigit(name[position])) {
        ++position;
    }
    const std::size_t count = position - start;
    return count >= 1 && count <= maximumDigits;
}

} // namespace

bool isStorageDiskName(std::string_view name) {
    constexpr std::string_view prefix = "disk";
    if (!name.starts_with(prefix)) {
        return false;
    }
    std::size_t position = prefix.size();
    if (!consumeNumber(name, position)) {
        return false;
    }
    for (int slice = 0; slice < maximumSlices && position < name.size(); ++slice) {
        if (name[position] != 's') {
            return false;
        }
        ++position;
        if (!consumeNumber(name, position)) {
            return false;
        }
    }
    return position == name.size();
}

} // namespace brivane
