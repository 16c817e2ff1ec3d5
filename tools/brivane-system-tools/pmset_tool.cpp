#include "system_tools.h"

#include <iostream>

namespace brivane::system_tools {

int runPmset(std::span<const std::string> args) {
    (void)args;
    std::cerr << "usage: pmset -g accps -xml\n";
    return usageError;
}

} // namespace brivane::system_tools
