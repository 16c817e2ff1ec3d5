#pragma once

// Where a user's history of a machine lives, and what guards it: one database per user and
// machine (a home shared between machines over the network holds one of each), a lock that
// keeps a second recorder from writing beside the first, the file system's kind, and moving a
// file that is no database aside.

#include "backends/posix/system/file_descriptor.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace brivane::cli {

struct HistoryFiles {
    std::string folder;   // $XDG_STATE_HOME/brivane-sensors, else ~/.local/state/brivane-sensors
    std::string database; // <folder>/history-<machine>.sqlite
    std::string lock;     // <database>.lock
};

// The files in `folder` for `machine` (made file-name safe).
HistoryFiles historyFilesIn(const std::string& folder, std::string_view machine);

// This user's files of this machine; nullopt, with why, when neither an absolute XDG_STATE_HOME
// nor HOME says where they go.
std::optional<HistoryFiles> historyFiles(std::string& problem);

// The machine's identity: /etc/machine-id, else D-Bus's copy of it, else the host name; at most
// 64 characters of letters, digits, '-', '_' and '.'.
std::string machineName();

// Makes the folder and its parents (0700 for those it makes); false, with why, when it cannot.
bool makeFolder(const std::string& folder, std::string& problem);

// Holds an exclusive flock(2) on a lock file as long as it lives, the holder's pid written in it.
class RecorderLock {
public:
    enum class Outcome { held, heldByAnother, failed };

    // `holder` is the other recorder's pid when it wrote one; `problem` says why it failed.
    static Outcome take(const std::string& path, std::optional<RecorderLock>& lock,
                        std::optional<std::int64_t>& holder, std::string& problem);

private:
    explicit RecorderLock(platform::posix::FileDescriptor file) : file_(std::move(file)) {}
    platform::posix::FileDescriptor file_;
};

// Whether the folder is on a network file system, where SQLite's write-ahead log (which shares
// memory between its readers and writers) does not work.
bool onNetworkFileSystem(const std::string& folder);

// Renames the database (and its write-ahead log, removing the shared-memory index) to
// <database>.<reason>-<UTC time>; the new name, or nullopt with why. A log that cannot move is
// removed, so that no new database is started beside it: nullopt when even that fails.
std::optional<std::string> moveAside(const std::string& database, std::string_view reason,
                                     std::int64_t unixSeconds, std::string& problem);

} // namespace brivane::cli
