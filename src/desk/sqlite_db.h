// Owners for an SQLite connection and its prepared statements: the plain C API, each handle
// released by its owner, values bound by position, never pasted into SQL text.
#pragma once

#include <cstdint>
#include <string>

struct sqlite3;
struct sqlite3_stmt;

namespace trawler::desk {

class Database;

// One prepared statement. Bind the parameters (1-based, as SQLite counts them), then Step()
// until it returns false; Done() says whether it ended without an error.
class Statement {
  public:
    Statement(Database& db, const char* sql);
    ~Statement();
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;

    bool Ok() const { return m_stmt != nullptr; }
    Statement& Bind(int index, const std::string& text);
    Statement& Bind(int index, int64_t value);
    Statement& BindNull(int index);
    // A row is ready; false at the end or on an error (then Done() is false).
    bool Step();
    bool Done() const { return m_done; }
    // The last statement's result code: SQLITE_CONSTRAINT tells a duplicate key apart.
    int ResultCode() const { return m_result; }

    bool IsNull(int column) const;
    int64_t Int(int column) const;
    std::string Text(int column) const;

  private:
    sqlite3_stmt* m_stmt = nullptr;
    bool m_done = false;
    int m_result = 0;
};

class Database {
  public:
    Database() = default;
    ~Database();
    Database(const Database&) = delete;
    Database& operator=(const Database&) = delete;

    // Opens (creating when missing) the file; WAL, foreign keys, and a wait for the write lock
    // held by another process (the server and a token or import command share the file).
    bool Open(const std::string& path);
    // Statements without parameters or results (BEGIN, COMMIT, schema).
    bool Execute(const char* sql);
    sqlite3* Handle() const { return m_db; }
    // The connection's last error text, for messages.
    std::string Error() const;

  private:
    bool EnterWalMode();
    sqlite3* m_db = nullptr;
};

// A transaction rolled back unless committed: an early return leaves the catalogue as it was.
class Transaction {
  public:
    // immediate: take the write lock at once, so what is read inside stays true until commit.
    Transaction(Database& db, bool immediate);
    ~Transaction();
    Transaction(const Transaction&) = delete;
    Transaction& operator=(const Transaction&) = delete;

    bool Begun() const { return m_open; }
    bool Commit();

  private:
    Database& m_db;
    bool m_open = false;
};

}  // namespace trawler::desk
