#include "backends/posix/kernel_files/loader_inspection.h"

#include <algorithm>
#include <memory>
#include <unistd.h>

namespace brivane::platform::posix {
namespace {

constexpr std::string_view systemFolders[] = {"/lib/",       "/lib32/",      "/lib64/",
                                              "/libx32/",    "/usr/lib/",    "/usr/lib32/",
                                              "/usr/lib64/", "/usr/libx32/", "/usr/local/lib/"};

// Far past what the kernel lets an environment be (a quarter of the stack limit, at most 6 MiB)
// or a process's maps (65,530 mappings by default): anything longer is a sign in itself.
constexpr std::size_t environmentLimit = 8 << 20;
constexpr std::size_t mapsLimit = 32 << 20;

// Calls visit(record) for each `separator`-ended record of the file, reading it in chunks;
// false when it cannot be read. A file past `limit` bytes sets `overflow` and stops.
template <class Visit>
bool forEachRecord(const RootedDirectory& proc, const std::string& relative, char separator,
                   std::size_t limit, bool& overflow, Visit visit) {
    FileDescriptor file(proc.openRegular(relative.c_str()));
    if (!file.valid()) {
        return false;
    }
    constexpr std::size_t chunk = 64 * 1024;
    const auto buffer = std::make_unique_for_overwrite<char[]>(chunk);
    std::string pending;
    std::size_t total = 0;
    for (;;) {
        const ssize_t got = ::read(file.get(), buffer.get(), chunk);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got < 0) {
            return false;
        }
        if (got == 0) {
            break;
        }
        if ((total += static_cast<std::size_t>(got)) > limit) {
            overflow = true;
            return true;
        }
        pending.append(buffer.get(), static_cast<std::size_t>(got));
        std::size_t start = 0;
        for (std::size_t end; (end = pending.find(separator, start)) != std::string::npos;
             start = end + 1) {
            visit(std::string_view(pending).substr(start, end - start));
        }
        pending.erase(0, start);
    }
    if (!pending.empty()) {
        visit(std::string_view(pending));
    }
    return true;
}

void addLoaderVariable(std::string_view entry, std::vector<std::string>& found) {
    const auto equals = entry.find('=');
    if (equals == std::string_view::npos || equals + 1 == entry.size()) {
        return;
    }
    const auto name = entry.substr(0, equals);
    if (std::find(loaderVariables.begin(), loaderVariables.end(), name) != loaderVariables.end() &&
        std::find(found.begin(), found.end(), name) == found.end()) {
        found.emplace_back(name);
    }
}

// "7f..-7f.. r-xp 00000000 08:01 1234    /path with blanks (deleted)": the path of an
// executable file mapping, empty for any other line.
std::string_view executableMapping(std::string_view line) {
    std::size_t at = 0;
    std::string_view permissions;
    for (int field = 0; field < 5; ++field) {
        const auto start = line.find_first_not_of(' ', at);
        if (start == std::string_view::npos) {
            return {};
        }
        at = std::min(line.find(' ', start), line.size());
        if (field == 1) {
            permissions = line.substr(start, at - start);
        }
    }
    const auto path = line.find_first_not_of(' ', at);
    if (permissions.size() < 3 || permissions[2] != 'x' || path == std::string_view::npos ||
        line[path] != '/') {
        return {};
    }
    return line.substr(path);
}

void addForeignObject(std::string_view line, std::string_view executable,
                      std::vector<std::string>& found) {
    const auto path = executableMapping(line);
    if (path.empty() || path == executable ||
        std::any_of(std::begin(systemFolders), std::end(systemFolders),
                    [&](std::string_view folder) { return path.starts_with(folder); }) ||
        std::find(found.begin(), found.end(), path) != found.end()) {
        return;
    }
    found.emplace_back(path);
}

} // namespace

std::vector<std::string> loaderVariablesIn(std::string_view environment) {
    std::vector<std::string> found;
    while (!environment.empty()) {
        const auto end = std::min(environment.find('\0'), environment.size());
        addLoaderVariable(environment.substr(0, end), found);
        environment.remove_prefix(std::min(end + 1, environment.size()));
    }
    return found;
}

std::vector<std::string> foreignObjectsIn(std::string_view maps, std::string_view executable) {
    std::vector<std::string> found;
    while (!maps.empty()) {
        const auto end = std::min(maps.find('\n'), maps.size());
        addForeignObject(maps.substr(0, end), executable, found);
        maps.remove_prefix(std::min(end + 1, maps.size()));
    }
    return found;
}

std::optional<LoaderFindings> inspectLoader(const RootedDirectory& proc, std::int64_t pid) {
    const std::string folder = std::to_string(pid) + "/";
    const auto executable = proc.linkTarget((folder + "exe").c_str());
    if (!executable) {
        return std::nullopt;
    }
    LoaderFindings findings;
    bool overflow = false;
    const bool read = forEachRecord(
        proc, folder + "environ", '\0', environmentLimit, overflow,
        [&](std::string_view entry) { addLoaderVariable(entry, findings.variables); });
    if (!read) {
        return std::nullopt;
    }
    if (overflow) {
        findings.variables.emplace_back("an environment past 8 MiB");
    }
    overflow = false;
    if (!forEachRecord(proc, folder + "maps", '\n', mapsLimit, overflow,
                       [&](std::string_view line) {
                           addForeignObject(line, *executable, findings.objects);
                       })) {
        return std::nullopt;
    }
    if (overflow) {
        findings.objects.emplace_back("more mappings than fit in 32 MiB");
    }
    return findings;
}

std::string describe(const LoaderFindings& findings) {
    const auto list = [](const std::vector<std::string>& items) {
        std::string text;
        for (const auto& item : items) {
            text += (text.empty() ? "" : ", ") + item;
        }
        return text;
    };
    const std::string started =
        findings.variables.empty() ? "" : "was started with " + list(findings.variables);
    const std::string maps =
        findings.objects.empty()
            ? ""
            : "maps " + list(findings.objects) + " from outside the system's library folders";
    return started + (started.empty() || maps.empty() ? "" : " and ") + maps;
}

} // namespace brivane::platform::posix
