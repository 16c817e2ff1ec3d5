#include "system_tools.h"

#include <iostream>

namespace brivane::system_tools {

int runTop(std::span<const std::string> args) {
    (void)args;
    std::cerr << "usage: top -o power -l 2 -s 1 -n 130 -stats pid,command,power\n";
    return usageError;
}

} // namespace brivane::system_tools
