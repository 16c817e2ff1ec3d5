// Any bytes where an Info.plist should be must give a dictionary (possibly empty) without
// crashing; the disk-name check must accept only what it can prove is a whole disk name.
#include "backends/posix/system/running_bundle.h"
#include "core/disk_name.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    const auto info = brivane::platform::posix::infoDictionaryFromBytes(bytes);
    if (const auto team = info->stringValue("BrivaneTeamIdentifier")) {
        if (team->size() > size) {
            std::abort();
        }
    }
    if (brivane::isStorageDiskName(bytes)) {
        if (!bytes.starts_with("disk") || bytes.size() > 4 + 6 + 3 * 7 ||
            bytes.find_first_not_of("disk0123456789") != std::string_view::npos) {
            std::abort();
        }
    }
    return 0;
}
