#include "backends/posix/kernel_files/line_safe_name.h"

namespace brivane::platform::posix {

std::string lineSafeName(std::string_view name) {
    std::string safe(name);
    for (std::size_t i = 0; i < safe.size(); ++i) {
        const auto byte = static_cast<unsigned char>(safe[i]);
        if (byte < 0x20 || byte == 0x7F) {
            safe[i] = '?';
        } else if (byte == 0xC2 && i + 1 < safe.size() &&
                   static_cast<unsigned char>(safe[i + 1]) == 0x85) {
            safe.replace(i, 2, "?");
        } else if (byte == 0xE2 && i + 2 < safe.size() &&
                   static_cast<unsigned char>(safe[i + 1]) == 0x80 &&
                   (static_cast<unsigned char>(safe[i + 2]) == 0xA8 ||
                    static_cast<unsigned char>(safe[i + 2]) == 0xA9)) {
            safe.replace(i, 3, "?");
        }
    }
    return safe;
}

} // namespace brivane::platform::posix
