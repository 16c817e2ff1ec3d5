#include "platform/linux/file_mapper_linux.h"

namespace brivane::platform {

std::shared_ptr<const FileMapper> makeDefaultFileMapper() {
    return std::make_shared<linux_backend::MmapFileMapper>();
}

} // namespace brivane::platform
