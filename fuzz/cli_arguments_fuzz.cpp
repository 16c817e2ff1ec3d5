// Any argument vector (the input's lines) must parse without crashing into options or one line
// of error; an accepted ranking kind or command is always one of the valid words.
#include "sensors-common/cli_options.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string_view text(reinterpret_cast<const char*>(data), size);
    std::vector<std::string> arguments;
    while (!text.empty() && arguments.size() < 16) {
        const auto end = text.find('\n');
        arguments.emplace_back(text.substr(0, end));
        text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
    }
    using namespace brivane::cli;
    const auto parsed = parseCommandLine(arguments, "T");
    if (!parsed.options) {
        if (parsed.error.empty() || parsed.error.find('\n') != std::string::npos) {
            std::abort();
        }
        return 0;
    }
    const auto& argument = parsed.options->argument;
    if (parsed.options->selector == brivane::ipc::Selector::processDetails && argument &&
        *argument != "memory" && *argument != "storage" && *argument != "energy") {
        std::abort();
    }
    return 0;
}
