#pragma once

#include <cstddef>
#include <memory>
#include <span>
#include <string>
#include <system_error>

namespace brivane::platform {

// A read-only view of a whole file, valid as long as the object lives.
class MappedFile {
public:
    virtual ~MappedFile() = default;
    virtual std::span<const unsigned char> bytes() const = 0;
};

class FileMapper {
public:
    virtual ~FileMapper() = default;
    // Null with error set when the file cannot be opened or read.
    virtual std::unique_ptr<MappedFile> map(const std::string& path,
                                            std::error_code& error) const = 0;
};

std::shared_ptr<const FileMapper> makeDefaultFileMapper();

} // namespace brivane::platform
