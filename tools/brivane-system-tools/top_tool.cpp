#include "system_tools.h"

namespace brivane::system_tools {

int runTop(std::span<const std::string>) {
    return usage("top -o power -l 2 -s 1 -n 130 -stats pid,command,power");
}

} // namespace brivane::system_tools
