#pragma once

// A thin layer over SQLite's C interface: a connection and its prepared statements as owned
// values (closed and finalised by their destructors), SQLite's result codes passed on as they
// are. Nothing throws.

#include "sqlite_library.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace brivane::cli {

class SqlStatement {
public:
    SqlStatement() = default;
    SqlStatement(const SqliteLibrary* library, sqlite3_stmt* statement)
        : library_(library), statement_(statement) {}
    ~SqlStatement();
    SqlStatement(SqlStatement&& other) noexcept;
    SqlStatement& operator=(SqlStatement&& other) noexcept;
    SqlStatement(const SqlStatement&) = delete;
    SqlStatement& operator=(const SqlStatement&) = delete;

    bool valid() const { return statement_ != nullptr; }

    // Parameters count from 1, as in SQLite; text and blobs are copied.
    SqlStatement& bind(int index, std::int64_t value);
    SqlStatement& bind(int index, double value);
    SqlStatement& bindText(int index, std::string_view value);
    SqlStatement& bindBlob(int index, std::string_view bytes);
    SqlStatement& bindNull(int index);

    // SQLITE_ROW, SQLITE_DONE or the error; the statement is reset by the next bind after done.
    int step();
    // Steps to the end; SQLITE_DONE or the error. Resets the statement for its next use.
    int run();
    void reset();

    // Columns count from 0. Views stay valid until the next step or reset.
    std::int64_t integer(int column) const;
    double real(int column) const;
    std::string_view text(int column) const;
    std::string_view blob(int column) const;
    bool isNull(int column) const;

private:
    void resetIfDone();

    const SqliteLibrary* library_ = nullptr;
    sqlite3_stmt* statement_ = nullptr;
    bool stepped_ = false;
};

class SqlDatabase {
public:
    // Opens (with SQLITE_OPEN_* flags) the file; nullopt with why in problem when SQLite or its
    // library cannot. A file that is no database opens: its first query fails with
    // SQLITE_NOTADB.
    static std::optional<SqlDatabase> open(const std::string& path, int flags,
                                           std::string& problem);

    ~SqlDatabase();
    SqlDatabase(SqlDatabase&& other) noexcept;
    SqlDatabase& operator=(SqlDatabase&& other) noexcept;
    SqlDatabase(const SqlDatabase&) = delete;
    SqlDatabase& operator=(const SqlDatabase&) = delete;

    // Runs statements that return no rows; SQLITE_OK or the error.
    int execute(const char* sql);
    // An invalid statement when the text does not compile (lastError() says why).
    SqlStatement prepare(std::string_view sql);
    // The first column of the first row of a query, when it has one.
    std::optional<std::int64_t> queryInteger(std::string_view sql);
    std::optional<std::string> queryText(std::string_view sql);

    void busyTimeout(int milliseconds);
    int lastCode() const;
    std::string lastError() const;
    std::int64_t lastInsertRowid() const;
    const SqliteLibrary& library() const { return *library_; }

private:
    SqlDatabase(const SqliteLibrary* library, sqlite3* connection)
        : library_(library), connection_(connection) {}
    void close();

    const SqliteLibrary* library_ = nullptr;
    sqlite3* connection_ = nullptr;
};

// Whether a result code means the file is no database or a damaged one.
bool isDamage(int code);
// Whether it means the disk (or the user's quota) is full.
bool isFull(int code);

} // namespace brivane::cli
