#pragma once

// What another process of this user was made to load beyond what its executable asks for: a
// variable of its environment that makes the dynamic loader (or the cryptography library) load
// code, or an executable mapping of a file outside the system's library folders. Either lets
// whoever started the process run code inside it, so its answers are theirs. A client looks at
// the agent it talks to this way; it cannot stop such an agent, only say so.

#include "backends/posix/kernel_files/sysfs_reading.h"

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace brivane::platform::posix {

// The variables the agent's units unset and a client looks for: what glibc ignores for a
// privileged process because it loads or redirects code, and OpenSSL's configuration, which
// can load providers and engines.
inline constexpr std::array<std::string_view, 19> loaderVariables{
    "LD_PRELOAD",        "LD_AUDIT",     "LD_LIBRARY_PATH", "LD_ORIGIN_PATH",  "LD_PROFILE",
    "LD_PROFILE_OUTPUT", "LD_DEBUG",     "LD_DEBUG_OUTPUT", "LD_DYNAMIC_WEAK", "LD_HWCAP_MASK",
    "LD_USE_LOAD_BIAS",  "LD_BIND_NOT",  "LD_SHOW_AUXV",    "GLIBC_TUNABLES",  "GCONV_PATH",
    "MALLOC_TRACE",      "OPENSSL_CONF", "OPENSSL_MODULES", "OPENSSL_ENGINES"};

struct LoaderFindings {
    std::vector<std::string> variables; // of loaderVariables, those set to a non-empty value
    std::vector<std::string> objects;   // files mapped executable outside the library folders
    bool altered() const { return !variables.empty() || !objects.empty(); }
};

// The loader variables set in an environment block (NUL-separated NAME=value entries).
std::vector<std::string> loaderVariablesIn(std::string_view environment);

// The files a /proc/<pid>/maps text maps executable outside the system's library folders
// (/lib*, /usr/lib*, /usr/local/lib), other than the process's own executable.
std::vector<std::string> foreignObjectsIn(std::string_view maps, std::string_view executable);

// What process pid under proc (a /proc) was made to load; nullopt when its files cannot be read
// (another user's process, or gone). Environments and maps past what the kernel lets a process
// have count as altered.
std::optional<LoaderFindings> inspectLoader(const RootedDirectory& proc, std::int64_t pid);

// "was started with LD_PRELOAD and maps /home/u/x.so from outside the system's library folders"
std::string describe(const LoaderFindings& findings);

} // namespace brivane::platform::posix
