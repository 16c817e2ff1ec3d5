#include "platform/linux/thread_name_linux.h"

#include <algorithm>
#include <cerrno>
#include <pthread.h>
#include <string>
#include <sys/resource.h>
#include <unistd.h>

namespace brivane::platform::linux_backend {

void setThreadName(std::string_view name) {
    const std::string cut(name.substr(0, 15));
    pthread_setname_np(pthread_self(), cut.c_str());
}

void lowerThreadPriority() {
    // With PRIO_PROCESS a thread id names just that thread.
    const auto thread = static_cast<id_t>(::gettid());
    errno = 0;
    const int current = ::getpriority(PRIO_PROCESS, thread);
    if (current == -1 && errno != 0)
        return;
    ::setpriority(PRIO_PROCESS, thread, std::min(current + utilityNiceIncrement, 19));
}

} // namespace brivane::platform::linux_backend
