#include "system_tools.h"

namespace brivane::system_tools {

int runDiskutil(std::span<const std::string>) {
    return usage("diskutil info -plist DEVICE");
}

} // namespace brivane::system_tools
