// Any listing of block devices (one name a line) gives whole disks in one stable order, each
// once, each from the listing; and "diskN" names round-trip through their numbers.
#include "disk-names/disk_names.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace {

void require(bool condition) {
    if (!condition) {
        std::abort();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace brivane::system_tools;
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    std::vector<std::string> lines;
    for (std::size_t start = 0; start <= input.size();) {
        const auto end = std::min(input.find('\n', start), input.size());
        lines.emplace_back(input.substr(start, end - start));
        start = end + 1;
    }
    const auto disks = wholeDisks(lines);
    const std::set<std::string> listed(lines.begin(), lines.end());
    require(std::set<std::string>(disks.begin(), disks.end()).size() == disks.size());
    for (const auto& disk : disks) {
        require(listed.contains(disk));
    }
    auto reversed = lines;
    std::reverse(reversed.begin(), reversed.end());
    require(wholeDisks(reversed) == disks);
    require(wholeDisks(disks) == disks);
    for (std::size_t i = 0; i < disks.size(); ++i) {
        require(diskNumber(diskName(i)) == i);
    }
    for (const auto& line : lines) {
        if (const auto number = diskNumber(line)) {
            require(diskName(*number) == line);
        }
    }
    return 0;
}
