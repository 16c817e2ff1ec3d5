#include "platform/registry.h"

#include <algorithm>

namespace brivane::platform {

bool Registry::isGraphicsAcceleratorClass(std::string_view ioClass) const {
    constexpr std::string_view family = "agx";
    const auto lower = [](char c) {
        return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
    };
    return std::search(ioClass.begin(), ioClass.end(), family.begin(), family.end(),
                       [&](char a, char b) { return lower(a) == b; }) != ioClass.end();
}

} // namespace brivane::platform
