#pragma once

#include <string>

// Files that only the superuser can change. A same-user program can write anything the user
// can, so what it may not forge is exactly what these hold for.

namespace brivane::platform::posix {

// This process runs as a user other than root, in the initial user namespace, where a file
// shown as root's is root's indeed.
bool runsAsOrdinaryUser();

// The file behind fd is a regular file of root's with one name only, writable by nobody else
// (no group or other write bit; an access-list entry granting write sets the group bits too),
// on a file system that honours set-user-id bits. Every file system a user can have mounted
// (removable media, disk images, FUSE) is mounted nosuid, because its owners and modes are
// the user's to choose; a second name would be a hard link the user may have made.
bool onlyRootCanChange(int fd);

// Every folder from path's own up to / is root's, not a symbolic link, and writable by nobody
// else unless sticky, where nobody else may rename or remove root's entries.
bool onlyRootCanRename(const std::string& path);

} // namespace brivane::platform::posix
