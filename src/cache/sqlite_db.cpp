#include "cache/sqlite_db.h"

namespace ferretta::cache {

void throwSqlite(sqlite3* db, int code, std::string_view doing) {
    std::string what(doing);
    what += ": ";
    what += db ? sqlite3_errmsg(db) : sqlite3_errstr(code);
    throw SqliteError(db ? sqlite3_extended_errcode(db) : code, what);
}

Statement::Statement(sqlite3* db, std::string_view sql) : m_db(db) {
    const int status =
        sqlite3_prepare_v2(db, sql.data(), static_cast<int>(sql.size()), &m_statement, nullptr);
    if (status != SQLITE_OK)
        throwSqlite(db, status, sql);
}

Statement::~Statement() {
    sqlite3_finalize(m_statement);
}

Statement& Statement::bind(int index, std::int64_t value) {
    const int status = sqlite3_bind_int64(m_statement, index, value);
    if (status != SQLITE_OK)
        throwSqlite(m_db, status, "bind");
    return *this;
}

Statement& Statement::bind(int index, std::string_view text) {
    const int status = sqlite3_bind_text64(m_statement, index, text.data(), text.size(),
                                           SQLITE_TRANSIENT, SQLITE_UTF8);
    if (status != SQLITE_OK)
        throwSqlite(m_db, status, "bind");
    return *this;
}

Statement& Statement::bindBlob(int index, std::string_view bytes) {
    const int status =
        sqlite3_bind_blob64(m_statement, index, bytes.data(), bytes.size(), SQLITE_TRANSIENT);
    if (status != SQLITE_OK)
        throwSqlite(m_db, status, "bind");
    return *this;
}

bool Statement::step() {
    const int status = sqlite3_step(m_statement);
    if (status == SQLITE_ROW)
        return true;
    if (status == SQLITE_DONE) {
        reset();
        return false;
    }
    // The error is read before the reset, which would report it again.
    const int code = sqlite3_extended_errcode(m_db);
    std::string what = std::string(sqlite3_sql(m_statement)) + ": " + sqlite3_errmsg(m_db);
    sqlite3_reset(m_statement);
    throw SqliteError(code, what);
}

void Statement::run() {
    while (step()) {
    }
}

void Statement::reset() {
    sqlite3_reset(m_statement);
    sqlite3_clear_bindings(m_statement);
}

std::int64_t Statement::integer(int column) const {
    return sqlite3_column_int64(m_statement, column);
}

std::string_view Statement::text(int column) const {
    const void* data = sqlite3_column_blob(m_statement, column);
    const int size = sqlite3_column_bytes(m_statement, column);
    if (!data)
        return {};
    return {static_cast<const char*>(data), static_cast<std::size_t>(size)};
}

Database::Database(const std::filesystem::path& file, int busyMilliseconds) {
    const int status =
        sqlite3_open_v2(file.c_str(), &m_db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
    if (status != SQLITE_OK) {
        const int code = m_db ? sqlite3_extended_errcode(m_db) : status;
        std::string what =
            "open " + file.string() + ": " + (m_db ? sqlite3_errmsg(m_db) : sqlite3_errstr(status));
        sqlite3_close(m_db);
        throw SqliteError(code, what);
    }
    sqlite3_extended_result_codes(m_db, 1);
    sqlite3_busy_timeout(m_db, busyMilliseconds);
}

Database::~Database() {
    sqlite3_close_v2(m_db);
}

void Database::exec(std::string_view sql) {
    const std::string text(sql);
    const int status = sqlite3_exec(m_db, text.c_str(), nullptr, nullptr, nullptr);
    if (status != SQLITE_OK)
        throwSqlite(m_db, status, sql);
}

std::int64_t Database::integer(std::string_view sql) {
    Statement statement(m_db, sql);
    std::int64_t value = 0;
    if (statement.step()) {
        value = statement.integer(0);
        statement.reset();
    }
    return value;
}

}  // namespace ferretta::cache
