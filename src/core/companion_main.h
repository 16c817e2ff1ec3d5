#pragma once

#include <string>
#include <vector>

namespace brivane {

// The executable's dispatch on its argument list (program path removed), compared as a whole
// and case-sensitively. Returns the exit status.
int companionMain(const std::vector<std::string>& arguments);

} // namespace brivane
