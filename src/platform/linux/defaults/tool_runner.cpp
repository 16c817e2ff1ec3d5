#include "platform/linux/tool_runner_linux.h"

namespace brivane::platform {

std::shared_ptr<ToolRunner> makeDefaultToolRunner() {
    return std::make_shared<linux_backend::LinuxToolRunner>();
}

} // namespace brivane::platform
