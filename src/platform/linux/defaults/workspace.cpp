#include "platform/linux/workspace_linux.h"

namespace brivane::platform {

std::shared_ptr<Workspace> makeDefaultWorkspace() {
    return std::make_shared<linux_backend::XdgWorkspace>();
}

} // namespace brivane::platform
