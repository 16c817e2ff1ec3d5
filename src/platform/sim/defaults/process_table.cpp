#include "platform/linux/process_table_linux.h"

namespace brivane::platform {

// The simulated machine shows the host's real processes, so that listed pids exist.
std::shared_ptr<const ProcessTable> makeDefaultProcessTable() {
    return std::make_shared<linux_backend::ProcfsProcessTable>("/proc");
}

} // namespace brivane::platform
