#pragma once

#include "platform/file_mapper.h"

namespace brivane::platform::posix {

// mmap of a regular file, read-only and private. An empty file maps to an empty view.
class MmapFileMapper final : public FileMapper {
public:
    std::unique_ptr<MappedFile> map(const std::string& path, std::error_code& error) const override;
};

} // namespace brivane::platform::posix
