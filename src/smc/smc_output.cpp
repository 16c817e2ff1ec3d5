#include "smc/smc_output.h"

#include <cstdio>
#include <string>

namespace brivane {

SMCLineSink standardOutputLineSink() {
    return [](std::string_view line) {
        std::string text;
        text.reserve(line.size() + 1);
        text.append(line);
        text.push_back('\n');
        std::fwrite(text.data(), 1, text.size(), stdout);
        std::fflush(stdout);
    };
}

} // namespace brivane
