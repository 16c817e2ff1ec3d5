#include "platform/linux/thread_name_linux.h"

#include <pthread.h>
#include <string>

namespace brivane::platform::linux_backend {

void setThreadName(std::string_view name) {
    const std::string cut(name.substr(0, 15));
    pthread_setname_np(pthread_self(), cut.c_str());
}

} // namespace brivane::platform::linux_backend
