#include "system_tools.h"

#include <iostream>

namespace brivane::system_tools {

int runDiskutil(std::span<const std::string> args) {
    (void)args;
    std::cerr << "usage: diskutil info -plist DEVICE\n";
    return usageError;
}

} // namespace brivane::system_tools
