#include "system_tools.h"

#include <iostream>

namespace brivane::system_tools {

int usage(std::string_view synopsis) {
    std::cerr << "usage: " << synopsis << '\n';
    return usageError;
}

int printed(std::string_view output) {
    std::cout << output << std::flush;
    return std::cout ? 0 : 1;
}

} // namespace brivane::system_tools
