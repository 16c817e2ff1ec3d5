#pragma once

#include <string_view>

namespace brivane {

// Whether name is a whole BSD disk name the storage tool may be asked about: "disk", 1 to 6
// digits, then up to three slices of "s" and 1 to 6 digits, and nothing else. Anything that
// could reach the tool as a path or an option is refused here.
bool isStorageDiskName(std::string_view name);

} // namespace brivane
