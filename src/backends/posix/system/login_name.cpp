#include "backends/posix/system/login_name.h"

#include <pwd.h>
#include <unistd.h>
#include <vector>

namespace brivane::platform::posix {

std::string loginName() {
    std::vector<char> buffer(16384);
    passwd entry{};
    passwd* found = nullptr;
    if (::getpwuid_r(::getuid(), &entry, buffer.data(), buffer.size(), &found) == 0 && found &&
        found->pw_name && found->pw_name[0] != '\0') {
        return found->pw_name;
    }
    return std::to_string(::getuid());
}

} // namespace brivane::platform::posix
