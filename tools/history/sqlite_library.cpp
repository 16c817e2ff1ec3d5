#include "sqlite_library.h"

namespace brivane::cli {
namespace {

// The runtime package's name (libsqlite3-0); never closed: connections may live as long as the
// process.
platform::posix::LibraryOnce<SqliteLibrary> sqlite("libsqlite3.so.0", "the history");

} // namespace

const SqliteLibrary* sqliteLibrary(std::string& problem) {
    return sqlite.get(problem);
}

} // namespace brivane::cli
