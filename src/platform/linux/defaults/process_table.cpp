#include "platform/linux/process_table_linux.h"

namespace brivane::platform {

std::shared_ptr<const ProcessTable> makeDefaultProcessTable() {
    return std::make_shared<linux_backend::ProcfsProcessTable>("/proc");
}

} // namespace brivane::platform
