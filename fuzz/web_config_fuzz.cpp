// Any web configuration file must parse or be refused in one line, without crashing, however
// deep or strange its YAML; a configuration that parses keeps its TLS settings consistent.
#include "metrics-exporter/web_config.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > brivane::cli::mostWebConfigBytes) {
        return 0;
    }
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const auto loaded = brivane::cli::parseWebConfig(text, "/etc/brivane");
    if (!loaded.config) {
        if (loaded.problem.empty()) {
            std::abort();
        }
        return 0;
    }
    const auto& tls = loaded.config->tls;
    if (tls && (tls->certFile.empty() || tls->keyFile.empty())) {
        std::abort();
    }
    for (const auto& [name, value] : loaded.config->headers) {
        if (value.find_first_of("\r\n") != std::string::npos) {
            std::abort(); // would split the answer's header
        }
    }
    return 0;
}
