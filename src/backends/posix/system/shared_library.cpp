#include "backends/posix/system/shared_library.h"

#include <dlfcn.h>
#include <utility>

namespace brivane::platform::posix {

std::optional<SharedLibrary> SharedLibrary::open(const std::string& name, std::string* problem) {
    void* handle = ::dlopen(name.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle) {
        if (problem) {
            const char* why = ::dlerror();
            *problem = "cannot open " + name + ": " + (why ? why : "unknown");
        }
        return std::nullopt;
    }
    return SharedLibrary(handle, name);
}

SharedLibrary::SharedLibrary(void* handle, std::string name)
    : handle_(handle), name_(std::move(name)) {}

SharedLibrary::SharedLibrary(SharedLibrary&& other) noexcept
    : handle_(std::exchange(other.handle_, nullptr)), name_(std::move(other.name_)),
      missing_(other.missing_) {}

SharedLibrary::~SharedLibrary() {
    if (handle_)
        ::dlclose(handle_);
}

void* SharedLibrary::address(const char* symbol) const {
    return handle_ ? ::dlsym(handle_, symbol) : nullptr;
}

} // namespace brivane::platform::posix
