#include "system_tools.h"

#include <iostream>

namespace brivane::system_tools {

int usage(std::string_view synopsis) {
    std::cerr << "usage: " << synopsis << '\n';
    return usageError;
}

} // namespace brivane::system_tools
