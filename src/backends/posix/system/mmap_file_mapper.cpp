#include "backends/posix/system/mmap_file_mapper.h"

#include "backends/posix/system/file_descriptor.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace brivane::platform::posix {
namespace {

class Mapping final : public MappedFile {
public:
    Mapping(void* address, std::size_t length) : address_(address), length_(length) {}
    ~Mapping() override {
        if (length_ > 0) {
            ::munmap(address_, length_);
        }
    }
    Mapping(const Mapping&) = delete;
    Mapping& operator=(const Mapping&) = delete;

    std::span<const unsigned char> bytes() const override {
        return {static_cast<const unsigned char*>(address_), length_};
    }

private:
    void* address_;
    std::size_t length_;
};

} // namespace

std::unique_ptr<MappedFile> MmapFileMapper::map(const std::string& path,
                                                std::error_code& error) const {
    const FileDescriptor file(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    struct stat status {};
    if (file.get() < 0 || ::fstat(file.get(), &status) != 0) {
        error = std::error_code(errno, std::generic_category());
        return nullptr;
    }
    if (!S_ISREG(status.st_mode)) {
        error = std::make_error_code(std::errc::invalid_argument);
        return nullptr;
    }
    const auto length = static_cast<std::size_t>(status.st_size);
    if (length == 0) {
        return std::make_unique<Mapping>(nullptr, 0);
    }
    void* address = ::mmap(nullptr, length, PROT_READ, MAP_PRIVATE, file.get(), 0);
    if (address == MAP_FAILED) {
        error = std::error_code(errno, std::generic_category());
        return nullptr;
    }
    error.clear();
    return std::make_unique<Mapping>(address, length);
}

} // namespace brivane::platform::posix
