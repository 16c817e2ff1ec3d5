#pragma once

#include "backends/posix/system/shared_library.h"

#include <sqlite3.h>
#include <string>

namespace brivane::cli {

// The functions of SQLite the history needs, opened by the library's runtime name on the first
// use: `watch` and `history` run in the client, whose other requests then load no database
// library, and the recorder shares the one code path. The functions keep SQLite's names and types.
struct SqliteLibrary {
// clang-format off
#define BRIVANE_SQLITE_FUNCTIONS(X)                                                                \
    X(sqlite3_open_v2) X(sqlite3_close_v2) X(sqlite3_errmsg) X(sqlite3_extended_errcode)          \
    X(sqlite3_busy_timeout) X(sqlite3_exec) X(sqlite3_free)                                        \
    X(sqlite3_prepare_v2) X(sqlite3_finalize) X(sqlite3_reset) X(sqlite3_step)                     \
    X(sqlite3_bind_int64) X(sqlite3_bind_double) X(sqlite3_bind_text) X(sqlite3_bind_blob)         \
    X(sqlite3_bind_null) X(sqlite3_column_int64) X(sqlite3_column_double) X(sqlite3_column_text)   \
    X(sqlite3_column_blob) X(sqlite3_column_bytes) X(sqlite3_column_type)                          \
    X(sqlite3_last_insert_rowid) X(sqlite3_errstr)
    // clang-format on
    BRIVANE_LIBRARY_TABLE(BRIVANE_SQLITE_FUNCTIONS)
};

// The library, opened on the first call and kept; nullptr, with why in problem, when it cannot
// be opened. Thread-safe.
const SqliteLibrary* sqliteLibrary(std::string& problem);

} // namespace brivane::cli
