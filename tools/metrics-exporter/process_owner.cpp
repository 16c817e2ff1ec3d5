#include "process_owner.h"

#include <sys/stat.h>
#include <unistd.h>

namespace brivane::cli {

bool ownProcess(std::int64_t pid, const std::string& procRoot) {
    struct stat status {};
    return pid > 0 && ::stat((procRoot + "/" + std::to_string(pid)).c_str(), &status) == 0 &&
           status.st_uid == ::geteuid();
}

} // namespace brivane::cli
