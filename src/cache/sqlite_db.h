#pragma once
// A thin hold on SQLite: a connection and its prepared statements, failures as exceptions that
// carry SQLite's result code so the cache can tell a busy database from a broken one.
#include <sqlite3.h>

#include <cstdint>
#include <filesystem>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

namespace ferretta::cache {

class SqliteError : public std::runtime_error {
  public:
    SqliteError(int code, const std::string& what) : std::runtime_error(what), m_code(code) {}
    int code() const noexcept { return m_code; }  // extended result code
    int primary() const noexcept { return m_code & 0xFF; }
    // The file is not a database, or its contents contradict themselves.
    bool broken() const noexcept {
        return primary() == SQLITE_CORRUPT || primary() == SQLITE_NOTADB;
    }
    // Another connection holds a lock we waited for in vain.
    bool busy() const noexcept { return primary() == SQLITE_BUSY || primary() == SQLITE_LOCKED; }

  private:
    int m_code;
};

class Statement {
  public:
    Statement(sqlite3* db, std::string_view sql);
    ~Statement();
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;

    Statement& bind(int index, std::int64_t value);
    Statement& bind(int index, std::string_view text);  // as text
    Statement& bindBlob(int index, std::string_view bytes);
    // Next row: true while there is one; false when done. Resets the statement when done.
    bool step();
    // Runs a statement that yields no rows, and resets it for the next use.
    void run();
    void reset();

    std::int64_t integer(int column) const;
    std::string_view text(int column) const;  // text or blob bytes; valid until the next step

  private:
    sqlite3* m_db;
    sqlite3_stmt* m_statement = nullptr;
};

class Database {
  public:
    // Opens the file read-write (created when missing) with a busy timeout.
    Database(const std::filesystem::path& file, int busyMilliseconds);
    ~Database();
    Database(const Database&) = delete;
    Database& operator=(const Database&) = delete;

    void exec(std::string_view sql);
    std::int64_t integer(std::string_view sql);  // the first column of the first row, 0 if none
    sqlite3* handle() const { return m_db; }

  private:
    sqlite3* m_db = nullptr;
};

[[noreturn]] void throwSqlite(sqlite3* db, int code, std::string_view doing);

// Runs the body in an immediate transaction: committed when it returns, rolled back when it
// throws (and the exception passed on).
template <typename Body>
void inTransaction(Database& db, Body&& body) {
    db.exec("BEGIN IMMEDIATE");
    try {
        body();
        db.exec("COMMIT");
    } catch (...) {
        // A failed COMMIT or statement may leave the transaction open; end it before passing
        // the failure on. Nothing of it is kept.
        sqlite3_exec(db.handle(), "ROLLBACK", nullptr, nullptr, nullptr);
        throw;
    }
}

}  // namespace ferretta::cache
