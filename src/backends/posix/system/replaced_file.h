#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <sys/types.h>

namespace brivane::platform::posix {

// Whether the target's folder may itself be a symbolic link.
enum class FolderLink { followed, refused };

// Replaces the file at path with text, so that a reader sees the old content or the new, never
// a part, and nothing is left beside it: the text goes into an unnamed file in the target's
// folder that gets a name only to be renamed over the target, or, where the file system makes
// no unnamed files, into a hidden temporary created exclusively (never through a link). The
// folder is opened once and every step works in it, even if another program renames it or puts
// something else at its path meanwhile. The stop signals (SIGINT, SIGTERM, SIGHUP, SIGQUIT) wait
// while a temporary exists, and every failure removes it; what a writer killed meanwhile left
// (this user's temporaries of the same target, a minute old) goes before the next one writes.
// Returns why it failed; nothing on success.
std::optional<std::string> replaceFile(const std::string& path, std::string_view text, mode_t mode,
                                       FolderLink folderLink = FolderLink::followed);

// ".<name>.XXXXXX", with name cut so that the whole fits in a file name of 255 bytes.
std::string temporaryName(std::string_view name);

} // namespace brivane::platform::posix
