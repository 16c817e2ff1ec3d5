#include "history_files.h"

#include "base/error_text.h"

#include <cerrno>
#include <cstdlib>
#include <ctime>
#include <fcntl.h>
#include <fstream>
#include <linux/magic.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <unistd.h>

namespace brivane::cli {
namespace {

std::string safeName(std::string_view text) {
    std::string name;
    for (const char c : text) {
        const bool safe = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                          (c >= '0' && c <= '9') || c == '-' || c == '_' || c == '.';
        if (safe && name.size() < 64) {
            name += c;
        }
    }
    return name.empty() || name.front() == '.' ? "machine" + name : name;
}

std::string firstLineOf(const char* path) {
    std::ifstream in(path);
    std::string line;
    std::getline(in, line);
    return line;
}

} // namespace

HistoryFiles historyFilesIn(const std::string& folder, std::string_view machine) {
    HistoryFiles files;
    files.folder = folder;
    files.database = folder + "/history-" + safeName(machine) + ".sqlite";
    files.lock = files.database + ".lock";
    return files;
}

std::optional<HistoryFiles> historyFiles(std::string& problem) {
    const char* state = std::getenv("XDG_STATE_HOME");
    const char* home = std::getenv("HOME");
    std::string base;
    if (state && state[0] == '/') {
        base = state;
    } else if (home && home[0] == '/') {
        base = std::string(home) + "/.local/state";
    } else {
        problem = "no folder for the history: neither XDG_STATE_HOME nor HOME is an absolute path";
        return std::nullopt;
    }
    return historyFilesIn(base + "/brivane-sensors", machineName());
}

std::string machineName() {
    for (const char* file : {"/etc/machine-id", "/var/lib/dbus/machine-id"}) {
        const std::string id = firstLineOf(file);
        if (!id.empty()) {
            return safeName(id);
        }
    }
    char host[256] = "";
    ::gethostname(host, sizeof host - 1);
    return safeName(host);
}

bool makeFolder(const std::string& folder, std::string& problem) {
    for (std::size_t at = 1; at <= folder.size(); ++at) {
        if (at != folder.size() && folder[at] != '/') {
            continue;
        }
        const std::string part = folder.substr(0, at);
        if (::mkdir(part.c_str(), 0700) != 0 && errno != EEXIST) {
            problem = "cannot make " + part + ": " + base::errorText(errno);
            return false;
        }
    }
    struct stat info {};
    if (::stat(folder.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) {
        problem = folder + " is not a folder";
        return false;
    }
    return true;
}

RecorderLock::Outcome RecorderLock::take(const std::string& path, std::optional<RecorderLock>& lock,
                                         std::optional<std::int64_t>& holder,
                                         std::string& problem) {
    platform::posix::FileDescriptor file(
        ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600));
    if (!file.valid()) {
        problem = "cannot open " + path + ": " + base::errorText(errno);
        return Outcome::failed;
    }
    if (::flock(file.get(), LOCK_EX | LOCK_NB) != 0) {
        if (errno != EWOULDBLOCK) {
            problem = "cannot lock " + path + ": " + base::errorText(errno);
            return Outcome::failed;
        }
        char text[32] = "";
        const auto length = ::pread(file.get(), text, sizeof text - 1, 0);
        if (length > 0) {
            char* end = nullptr;
            const long long pid = std::strtoll(text, &end, 10);
            if (end != text && pid > 0) {
                holder = pid;
            }
        }
        return Outcome::heldByAnother;
    }
    const std::string pid = std::to_string(::getpid()) + "\n";
    if (::ftruncate(file.get(), 0) != 0 ||
        ::pwrite(file.get(), pid.data(), pid.size(), 0) != static_cast<ssize_t>(pid.size())) {
        // The lock holds without the pid; only the other recorder's message lacks it.
    }
    lock.emplace(RecorderLock(std::move(file)));
    return Outcome::held;
}

bool onNetworkFileSystem(const std::string& folder) {
    struct statfs info {};
    if (::statfs(folder.c_str(), &info) != 0) {
        return false;
    }
    // Kernel magic numbers (statfs(2)); FUSE carries sshfs and the like.
    constexpr unsigned long cifs = 0xFF534D42, smb2 = 0xFE534D42, fuse = 0x65735546,
                            ceph = 0x00C36400, afs = 0x5346414F, v9fs = 0x01021997;
    const auto type = static_cast<unsigned long>(info.f_type);
    return type == NFS_SUPER_MAGIC || type == SMB_SUPER_MAGIC || type == cifs || type == smb2 ||
           type == fuse || type == ceph || type == afs || type == v9fs ||
           type == CODA_SUPER_MAGIC || type == NCP_SUPER_MAGIC;
}

std::optional<std::string> moveAside(const std::string& database, std::string_view reason,
                                     std::int64_t unixSeconds, std::string& problem) {
    const std::time_t seconds = unixSeconds;
    std::tm utc{};
    char stamp[32] = "unknown";
    if (::gmtime_r(&seconds, &utc)) {
        std::strftime(stamp, sizeof stamp, "%Y%m%dT%H%M%SZ", &utc);
    }
    const std::string aside = database + "." + std::string(reason) + "-" + stamp;
    if (::rename(database.c_str(), aside.c_str()) != 0) {
        problem = "cannot move " + database + " aside: " + base::errorText(errno);
        return std::nullopt;
    }
    // A log belongs to the file it logs; the index is rebuilt from the log. One left beside the
    // old name would be applied to the new database there: removed when it cannot move.
    for (const char* log : {"-wal", "-journal"}) {
        const std::string from = database + log;
        if (::rename(from.c_str(), (aside + log).c_str()) == 0 || errno == ENOENT) {
            continue;
        }
        const int moveError = errno;
        if (::unlink(from.c_str()) != 0 && errno != ENOENT) {
            problem = "moved " + database + " to " + aside + " but can neither move nor remove " +
                      from + ": " + base::errorText(moveError);
            return std::nullopt;
        }
    }
    ::unlink((database + "-shm").c_str());
    return aside;
}

} // namespace brivane::cli
