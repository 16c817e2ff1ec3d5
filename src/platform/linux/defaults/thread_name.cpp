#include "platform/thread_name.h"

#include "platform/linux/thread_name_linux.h"

namespace brivane::platform {

void setCurrentThreadName(std::string_view name) {
    linux_backend::setThreadName(name);
}

void setCurrentThreadPriority(ThreadPriority priority) {
    switch (priority) {
    case ThreadPriority::normal:
        return;
    case ThreadPriority::utility:
        linux_backend::lowerThreadPriority();
        return;
    }
}

} // namespace brivane::platform
