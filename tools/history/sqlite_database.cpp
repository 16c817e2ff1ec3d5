#include "sqlite_database.h"

#include <utility>

namespace brivane::cli {

SqlStatement::~SqlStatement() {
    if (statement_) {
        library_->sqlite3_finalize(statement_);
    }
}

SqlStatement::SqlStatement(SqlStatement&& other) noexcept
    : library_(other.library_), statement_(std::exchange(other.statement_, nullptr)),
      stepped_(other.stepped_) {}

SqlStatement& SqlStatement::operator=(SqlStatement&& other) noexcept {
    if (this != &other) {
        if (statement_) {
            library_->sqlite3_finalize(statement_);
        }
        library_ = other.library_;
        statement_ = std::exchange(other.statement_, nullptr);
        stepped_ = other.stepped_;
    }
    return *this;
}

void SqlStatement::resetIfDone() {
    if (stepped_) {
        library_->sqlite3_reset(statement_);
        stepped_ = false;
    }
}

SqlStatement& SqlStatement::bind(int index, std::int64_t value) {
    resetIfDone();
    library_->sqlite3_bind_int64(statement_, index, value);
    return *this;
}

SqlStatement& SqlStatement::bind(int index, double value) {
    resetIfDone();
    library_->sqlite3_bind_double(statement_, index, value);
    return *this;
}

SqlStatement& SqlStatement::bindText(int index, std::string_view value) {
    resetIfDone();
    library_->sqlite3_bind_text(statement_, index, value.data(), static_cast<int>(value.size()),
                                SQLITE_TRANSIENT);
    return *this;
}

SqlStatement& SqlStatement::bindBlob(int index, std::string_view bytes) {
    resetIfDone();
    // An empty blob is a blob, not NULL: SQLite takes a null pointer for NULL.
    static const char none = 0;
    library_->sqlite3_bind_blob(statement_, index, bytes.empty() ? &none : bytes.data(),
                                static_cast<int>(bytes.size()), SQLITE_TRANSIENT);
    return *this;
}

SqlStatement& SqlStatement::bindNull(int index) {
    resetIfDone();
    library_->sqlite3_bind_null(statement_, index);
    return *this;
}

int SqlStatement::step() {
    stepped_ = true;
    return library_->sqlite3_step(statement_);
}

int SqlStatement::run() {
    int code = SQLITE_ROW;
    while (code == SQLITE_ROW) {
        code = step();
    }
    reset();
    return code;
}

void SqlStatement::reset() {
    library_->sqlite3_reset(statement_);
    stepped_ = false;
}

std::int64_t SqlStatement::integer(int column) const {
    return library_->sqlite3_column_int64(statement_, column);
}

double SqlStatement::real(int column) const {
    return library_->sqlite3_column_double(statement_, column);
}

std::string_view SqlStatement::text(int column) const {
    const auto* text = library_->sqlite3_column_text(statement_, column);
    const int bytes = library_->sqlite3_column_bytes(statement_, column);
    return text ? std::string_view(reinterpret_cast<const char*>(text), bytes) : std::string_view();
}

std::string_view SqlStatement::blob(int column) const {
    const void* blob = library_->sqlite3_column_blob(statement_, column);
    const int bytes = library_->sqlite3_column_bytes(statement_, column);
    return blob ? std::string_view(static_cast<const char*>(blob), bytes) : std::string_view();
}

bool SqlStatement::isNull(int column) const {
    return library_->sqlite3_column_type(statement_, column) == SQLITE_NULL;
}

std::optional<SqlDatabase> SqlDatabase::open(const std::string& path, int flags,
                                             std::string& problem) {
    const SqliteLibrary* library = sqliteLibrary(problem);
    if (!library) {
        return std::nullopt;
    }
    sqlite3* connection = nullptr;
    const int code = library->sqlite3_open_v2(path.c_str(), &connection, flags, nullptr);
    if (code != SQLITE_OK) {
        problem = connection ? library->sqlite3_errmsg(connection) : library->sqlite3_errstr(code);
        if (connection) {
            library->sqlite3_close_v2(connection);
        }
        return std::nullopt;
    }
    return SqlDatabase(library, connection);
}

SqlDatabase::~SqlDatabase() {
    close();
}

SqlDatabase::SqlDatabase(SqlDatabase&& other) noexcept
    : library_(other.library_), connection_(std::exchange(other.connection_, nullptr)) {}

SqlDatabase& SqlDatabase::operator=(SqlDatabase&& other) noexcept {
    if (this != &other) {
        close();
        library_ = other.library_;
        connection_ = std::exchange(other.connection_, nullptr);
    }
    return *this;
}

void SqlDatabase::close() {
    if (connection_) {
        // _v2: statements still open keep the connection until they are finalised.
        library_->sqlite3_close_v2(connection_);
        connection_ = nullptr;
    }
}

int SqlDatabase::execute(const char* sql) {
    return library_->sqlite3_exec(connection_, sql, nullptr, nullptr, nullptr);
}

SqlStatement SqlDatabase::prepare(std::string_view sql) {
    sqlite3_stmt* statement = nullptr;
    if (library_->sqlite3_prepare_v2(connection_, sql.data(), static_cast<int>(sql.size()),
                                     &statement, nullptr) != SQLITE_OK) {
        return {};
    }
    return {library_, statement};
}

std::optional<std::int64_t> SqlDatabase::queryInteger(std::string_view sql) {
    auto statement = prepare(sql);
    if (!statement.valid() || statement.step() != SQLITE_ROW || statement.isNull(0)) {
        return std::nullopt;
    }
    return statement.integer(0);
}

std::optional<std::string> SqlDatabase::queryText(std::string_view sql) {
    auto statement = prepare(sql);
    if (!statement.valid() || statement.step() != SQLITE_ROW) {
        return std::nullopt;
    }
    return std::string(statement.text(0));
}

void SqlDatabase::busyTimeout(int milliseconds) {
    library_->sqlite3_busy_timeout(connection_, milliseconds);
}

int SqlDatabase::lastCode() const {
    return library_->sqlite3_extended_errcode(connection_);
}

std::string SqlDatabase::lastError() const {
    return library_->sqlite3_errmsg(connection_);
}

std::int64_t SqlDatabase::lastInsertRowid() const {
    return library_->sqlite3_last_insert_rowid(connection_);
}

bool isDamage(int code) {
    const int primary = code & 0xFF;
    return primary == SQLITE_NOTADB || primary == SQLITE_CORRUPT;
}

bool isFull(int code) {
    return (code & 0xFF) == SQLITE_FULL;
}

} // namespace brivane::cli
