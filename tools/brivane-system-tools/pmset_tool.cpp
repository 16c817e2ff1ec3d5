#include "system_tools.h"

namespace brivane::system_tools {

int runPmset(std::span<const std::string>) {
    return usage("pmset -g accps -xml");
}

} // namespace brivane::system_tools
