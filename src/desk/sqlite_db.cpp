// The SQLite owners over the C API.
#include "desk/sqlite_db.h"

#include <chrono>
#include <thread>

#include <sqlite3.h>

namespace trawler::desk {

namespace {
// The server and the command-line tools write the same file; a writer waits this long for
// another's transaction (an intake holds it while it computes a diff) before giving up.
constexpr int kBusyTimeoutMillis = 60000;
}  // namespace

Statement::Statement(Database& db, const char* sql) {
    if (sqlite3_prepare_v2(db.Handle(), sql, -1, &m_stmt, nullptr) != SQLITE_OK) {
        m_stmt = nullptr;
        m_result = sqlite3_errcode(db.Handle());
    }
}

Statement::~Statement() {
    if (m_stmt != nullptr) sqlite3_finalize(m_stmt);
}

Statement& Statement::Bind(int index, const std::string& text) {
    if (m_stmt != nullptr) {
        sqlite3_bind_text(m_stmt, index, text.data(), static_cast<int>(text.size()),
                          SQLITE_TRANSIENT);
    }
    return *this;
}

Statement& Statement::Bind(int index, int64_t value) {
    if (m_stmt != nullptr) sqlite3_bind_int64(m_stmt, index, value);
    return *this;
}

Statement& Statement::BindNull(int index) {
    if (m_stmt != nullptr) sqlite3_bind_null(m_stmt, index);
    return *this;
}

bool Statement::Step() {
    if (m_stmt == nullptr) return false;
    m_result = sqlite3_step(m_stmt);
    if (m_result == SQLITE_ROW) return true;
    m_done = m_result == SQLITE_DONE;
    return false;
}

bool Statement::IsNull(int column) const {
    return sqlite3_column_type(m_stmt, column) == SQLITE_NULL;
}

int64_t Statement::Int(int column) const {
    return sqlite3_column_int64(m_stmt, column);
}

std::string Statement::Text(int column) const {
    const unsigned char* text = sqlite3_column_text(m_stmt, column);
    if (text == nullptr) return std::string();
    return std::string(reinterpret_cast<const char*>(text),
                       static_cast<size_t>(sqlite3_column_bytes(m_stmt, column)));
}

Database::~Database() {
    if (m_db != nullptr) sqlite3_close(m_db);
}

bool Database::Open(const std::string& path) {
    if (sqlite3_open_v2(path.c_str(), &m_db,
                        SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_FULLMUTEX,
                        nullptr) != SQLITE_OK) {
        return false;
    }
    sqlite3_busy_timeout(m_db, kBusyTimeoutMillis);
    // FULL: a commit is on the disk when COMMIT returns, so an acknowledged intake survives a
    // power cut, not only a killed process.
    return EnterWalMode() && Execute("PRAGMA synchronous=FULL") &&
           Execute("PRAGMA foreign_keys=ON");
}

bool Database::EnterWalMode() {
    // Switching a new file to WAL takes an exclusive lock. When several servers open the same
    // new catalogue at once, SQLite answers "database is locked" at once rather than wait
    // (waiting could deadlock), or leaves the mode as it was; so the switch is tried again for
    // as long as a busy wait would last.
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(kBusyTimeoutMillis);
    for (;;) {
        std::string mode;
        auto take = [](void* out, int columns, char** values, char**) {
            if (columns > 0 && values[0] != nullptr) *static_cast<std::string*>(out) = values[0];
            return 0;
        };
        const int rc = sqlite3_exec(m_db, "PRAGMA journal_mode=WAL", take, &mode, nullptr);
        if (rc == SQLITE_OK && mode == "wal") return true;
        const bool busy =
            rc == SQLITE_OK || (rc & 0xFF) == SQLITE_BUSY || (rc & 0xFF) == SQLITE_LOCKED;
        if (!busy || std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

bool Database::Execute(const char* sql) {
    return sqlite3_exec(m_db, sql, nullptr, nullptr, nullptr) == SQLITE_OK;
}

std::string Database::Error() const {
    return m_db != nullptr ? sqlite3_errmsg(m_db) : "the catalogue is not open";
}

Transaction::Transaction(Database& db, bool immediate) : m_db(db) {
    m_open = db.Execute(immediate ? "BEGIN IMMEDIATE" : "BEGIN");
}

Transaction::~Transaction() {
    if (m_open) m_db.Execute("ROLLBACK");
}

bool Transaction::Commit() {
    if (!m_open) return false;
    m_open = false;
    if (m_db.Execute("COMMIT")) return true;
    m_db.Execute("ROLLBACK");
    return false;
}

}  // namespace trawler::desk
