// The certificate-line rule and the UTF-8 check over arbitrary tool output. The first line
// is the team identifier.
#include "update/installer_signature.h"

#include <cstddef>
#include <cstdint>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    const auto split = input.find('\n');
    const std::string_view team = split == std::string_view::npos ? "" : input.substr(0, split);
    const std::string_view output =
        split == std::string_view::npos ? input : input.substr(split + 1);
    brivane::isValidUTF8(output);
    if (brivane::hasInstallerCertificateLine(output, team) &&
        output.find("Developer ID Installer:") == std::string_view::npos) {
        __builtin_trap();
    }
    return 0;
}
