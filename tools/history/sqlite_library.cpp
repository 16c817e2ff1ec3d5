#include "sqlite_library.h"

#include <dlfcn.h>
#include <mutex>

namespace brivane::cli {
namespace {

// The runtime package's name (libsqlite3-0), never the development link.
constexpr const char* runtimeName = "libsqlite3.so.0";

std::mutex opening;
const SqliteLibrary* opened = nullptr;
std::string failure;

} // namespace

const SqliteLibrary* sqliteLibrary(std::string& problem) {
    const std::lock_guard lock(opening);
    if (opened || !failure.empty()) {
        problem = failure;
        return opened;
    }
    // Never closed: connections may live as long as the process.
    void* handle = ::dlopen(runtimeName, RTLD_NOW | RTLD_LOCAL);
    if (!handle) {
        const char* why = ::dlerror();
        failure = std::string("cannot open ") + runtimeName + ": " + (why ? why : "unknown");
        problem = failure;
        return nullptr;
    }
    auto* library = new SqliteLibrary;
    bool complete = true;
#define BRIVANE_SQLITE_RESOLVE(name)                                                               \
    library->name = reinterpret_cast<decltype(&::name)>(::dlsym(handle, #name));                   \
    complete = complete && library->name;
    BRIVANE_SQLITE_FUNCTIONS(BRIVANE_SQLITE_RESOLVE)
#undef BRIVANE_SQLITE_RESOLVE
    if (!complete) {
        delete library;
        failure = std::string(runtimeName) + " lacks a function the history needs";
        problem = failure;
        return nullptr;
    }
    opened = library;
    return opened;
}

bool sqliteLibraryLoaded() {
    const std::lock_guard lock(opening);
    return opened != nullptr;
}

} // namespace brivane::cli
