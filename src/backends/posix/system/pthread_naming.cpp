#include "backends/posix/system/pthread_naming.h"

#include "base/thread_naming_hook.h"

#include <algorithm>
#include <cerrno>
#include <pthread.h>
#include <string>
#include <sys/resource.h>
#include <unistd.h>

namespace brivane::platform::posix {
namespace {

// Linux nice values are per thread: utility work runs this much nicer than its creator.
constexpr int utilityNiceIncrement = 10;

void lowerThreadPriority() {
    // With PRIO_PROCESS a thread id names just that thread.
    const auto thread = static_cast<id_t>(::gettid());
    errno = 0;
    const int current = ::getpriority(PRIO_PROCESS, thread);
    if (current == -1 && errno != 0)
        return;
    ::setpriority(PRIO_PROCESS, thread, std::min(current + utilityNiceIncrement, 19));
}

void nameThread(std::string_view name) {
    // pthread names hold 15 characters; longer names are cut rather than rejected.
    const std::string cut(name.substr(0, 15));
    pthread_setname_np(pthread_self(), cut.c_str());
}

void prioritiseThread(base::ThreadPriority priority) {
    switch (priority) {
    case base::ThreadPriority::normal:
        return;
    case base::ThreadPriority::utility:
        lowerThreadPriority();
        return;
    }
}

} // namespace

void installPthreadNaming() {
    base::installThreadNaming({nameThread, prioritiseThread});
}

} // namespace brivane::platform::posix
