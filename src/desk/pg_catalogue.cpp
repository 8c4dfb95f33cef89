// The catalogue over PostgreSQL (libpq): the SQLite catalogue's schema and answers, for desks
// of several servers on one database.
#include <libpq-fe.h>

#include <algorithm>
#include <map>
#include <mutex>

#include "desk/catalogue_backends.h"
#include "desk/tokens.h"

namespace trawler::desk {

namespace {

// Every text column compares byte by byte (COLLATE "C"), as SQLite's do: a locale's collation
// would order times and hex texts by other rules, and fold case beyond ASCII in ILIKE, where
// SQLite's LIKE folds ASCII letters only. id stands in for SQLite's rowid, which the SQLite
// schema has without naming it: the order of arrival among packages of one second.
// Migration N brings the schema from version N-1 to N, numbered as SQLite's.
constexpr const char* kMigrations[] = {
    // 1: packages with their report and the diff to the unit's previous visit; tokens.
    "CREATE TABLE packages ("
    " id bigint GENERATED ALWAYS AS IDENTITY UNIQUE,"
    " sha256 text COLLATE \"C\" PRIMARY KEY, size bigint NOT NULL,"
    " received text COLLATE \"C\" NOT NULL, verdict text COLLATE \"C\" NOT NULL,"
    " error_kind text COLLATE \"C\" NOT NULL, message text COLLATE \"C\" NOT NULL,"
    " unit_number bigint, firmware text COLLATE \"C\" NOT NULL, clock text COLLATE \"C\" NOT NULL,"
    " collected text COLLATE \"C\" NOT NULL, customer text COLLATE \"C\" NOT NULL,"
    " comment text COLLATE \"C\" NOT NULL, pc_line text COLLATE \"C\" NOT NULL, log_length bigint,"
    " ticket text COLLATE \"C\" NOT NULL, technician text COLLATE \"C\" NOT NULL,"
    " report text NOT NULL, previous text COLLATE \"C\" NOT NULL, diff text NOT NULL);"
    "CREATE INDEX packages_by_unit ON packages(unit_number, collected, clock, received, sha256);"
    "CREATE INDEX packages_by_received ON packages(received, id);"
    "CREATE TABLE tokens (name text COLLATE \"C\" PRIMARY KEY, role text NOT NULL,"
    " hash text NOT NULL UNIQUE, created text NOT NULL);",
    // 2: an index per exact field searched, in the list's order.
    "CREATE INDEX packages_by_firmware ON packages(firmware, received, id);"
    "CREATE INDEX packages_by_verdict ON packages(verdict, received, id);",
    // 3: retention, as in SQLite; the index finds the diffs made against a purged package.
    "CREATE TABLE purges (sha256 text COLLATE \"C\" PRIMARY KEY, unit_number bigint,"
    " received text COLLATE \"C\" NOT NULL, marked text COLLATE \"C\" NOT NULL);"
    "CREATE INDEX packages_by_previous ON packages(previous);",
    // 4: the right to see field texts, and the audit log, whose trigger refuses any change
    // and any removal, as in SQLite (and emptying it whole, which SQLite does not have).
    "ALTER TABLE tokens ADD COLUMN field_texts boolean NOT NULL DEFAULT false;"
    "CREATE TABLE audit (id bigint GENERATED ALWAYS AS IDENTITY PRIMARY KEY,"
    " at text COLLATE \"C\" NOT NULL, who text COLLATE \"C\" NOT NULL,"
    " action text COLLATE \"C\" NOT NULL, subject text COLLATE \"C\" NOT NULL,"
    " address text COLLATE \"C\" NOT NULL);"
    "CREATE INDEX audit_by_time ON audit(at);"
    "CREATE FUNCTION audit_append_only() RETURNS trigger LANGUAGE plpgsql AS"
    " $$BEGIN RAISE EXCEPTION 'the audit log is append-only'; END$$;"
    "CREATE TRIGGER audit_kept BEFORE UPDATE OR DELETE OR TRUNCATE ON audit"
    " FOR EACH STATEMENT EXECUTE FUNCTION audit_append_only();",
    // 5: recordings beside the packages, as in SQLite.
    "ALTER TABLE packages ADD COLUMN kind text COLLATE \"C\" NOT NULL DEFAULT 'package',"
    " ADD COLUMN summary text NOT NULL DEFAULT '';",
};
static_assert(sizeof kMigrations / sizeof kMigrations[0] == kCatalogueVersion,
              "one migration per catalogue version");

// The advisory lock every writer holds, and a migration too (a number of our own).
constexpr int64_t kWriteLock = 0x54726177'6C577274;
// Held while an audit entry is written: entries then commit in the order of their ids, so that a
// reader paging by id never passes one that commits late.
constexpr int64_t kAuditLock = 0x54726177'6C417564;

constexpr Oid kTextType = 25;
constexpr Oid kBigintType = 20;
constexpr char kUndefinedTable[] = "42P01";
constexpr char kUniqueViolation[] = "23505";

// A statement's parameters as text with their types; each Add gives the placeholder to write.
class Params {
  public:
    std::string Add(const std::string& text) { return Push(text, kTextType, false); }
    std::string Add(int64_t value) { return Push(std::to_string(value), kBigintType, false); }
    std::string AddNull(Oid type) { return Push(std::string(), type, true); }

    int Count() const { return static_cast<int>(m_values.size()); }
    const Oid* Types() const { return m_types.data(); }
    const char* const* Values() {
        m_pointers.clear();
        for (size_t i = 0; i < m_values.size(); ++i) {
            m_pointers.push_back(m_null[i] ? nullptr : m_values[i].c_str());
        }
        return m_pointers.data();
    }

  private:
    std::string Push(std::string value, Oid type, bool null) {
        m_values.push_back(std::move(value));
        m_types.push_back(type);
        m_null.push_back(null);
        return "$" + std::to_string(m_values.size());
    }

    std::vector<std::string> m_values;
    std::vector<Oid> m_types;
    std::vector<bool> m_null;
    std::vector<const char*> m_pointers;
};

// The owner of one statement's result.
class Result {
  public:
    explicit Result(PGresult* result) : m_result(result) {}
    ~Result() { PQclear(m_result); }
    Result(const Result&) = delete;
    Result& operator=(const Result&) = delete;

    bool Ok() const {
        const ExecStatusType s = PQresultStatus(m_result);
        return s == PGRES_COMMAND_OK || s == PGRES_TUPLES_OK;
    }
    int RowCount() const { return Ok() ? PQntuples(m_result) : 0; }
    bool IsNull(int row, int column) const { return PQgetisnull(m_result, row, column) != 0; }
    std::string Text(int row, int column) const {
        return std::string(PQgetvalue(m_result, row, column),
                           static_cast<size_t>(PQgetlength(m_result, row, column)));
    }
    int64_t Int(int row, int column) const {
        return std::strtoll(PQgetvalue(m_result, row, column), nullptr, 10);
    }
    // The SQLSTATE of a failure ("23505"), empty on success.
    std::string State() const {
        const char* state = PQresultErrorField(m_result, PG_DIAG_SQLSTATE);
        return state != nullptr ? state : "";
    }
    int64_t Affected() const { return std::strtoll(PQcmdTuples(m_result), nullptr, 10); }
    std::string Command() const { return PQcmdStatus(m_result); }

  private:
    PGresult* m_result;
};

PackageRecord ReadRecord(const Result& s, int row) {
    PackageRecord r;
    r.sha256 = s.Text(row, 0);
    r.size = s.Int(row, 1);
    r.received = s.Text(row, 2);
    r.verdict = s.Text(row, 3);
    r.errorKind = s.Text(row, 4);
    r.message = s.Text(row, 5);
    r.hasUnit = !s.IsNull(row, 6);
    r.unitNumber = r.hasUnit ? s.Int(row, 6) : 0;
    r.firmware = s.Text(row, 7);
    r.clock = s.Text(row, 8);
    r.collected = s.Text(row, 9);
    r.customer = s.Text(row, 10);
    r.comment = s.Text(row, 11);
    r.pcLine = s.Text(row, 12);
    r.logLength = s.IsNull(row, 13) ? -1 : s.Int(row, 13);
    r.ticket = s.Text(row, 14);
    r.technician = s.Text(row, 15);
    r.report = s.Text(row, 16);
    r.previous = s.Text(row, 17);
    r.diff = s.Text(row, 18);
    r.kind = s.Text(row, 19);
    r.summary = s.Text(row, 20);
    return r;
}

// Connections left open by catalogues that are done, per URL: a server opens a catalogue for
// every request, and a new PostgreSQL connection costs a process on the database's machine.
class Pool {
  public:
    PGconn* Take(const std::string& url) {
        std::lock_guard<std::mutex> lock(m_mutex);
        std::vector<PGconn*>& idle = m_idle[url];
        if (idle.empty()) return nullptr;
        PGconn* connection = idle.back();
        idle.pop_back();
        return connection;
    }
    // Keeps a connection that is healthy and outside any transaction; closes any other.
    void Give(const std::string& url, PGconn* connection) {
        if (PQstatus(connection) == CONNECTION_OK &&
            PQtransactionStatus(connection) == PQTRANS_IDLE) {
            std::lock_guard<std::mutex> lock(m_mutex);
            std::vector<PGconn*>& idle = m_idle[url];
            if (idle.size() < kMaxIdle) {
                idle.push_back(connection);
                return;
            }
        }
        PQfinish(connection);
    }

  private:
    static constexpr size_t kMaxIdle = 16;
    std::mutex m_mutex;
    std::map<std::string, std::vector<PGconn*>> m_idle;
};

Pool& Connections() {
    static Pool* pool = new Pool;  // never destroyed: a thread may give one back at exit
    return *pool;
}

class PostgresCatalogue : public Catalogue {
  public:
    explicit PostgresCatalogue(std::string url)
        : m_url(std::move(url)), m_passwords(LocationPasswords(m_url)) {}
    ~PostgresCatalogue() override {
        if (m_connection != nullptr) Connections().Give(m_url, m_connection);
    }

    bool Open(bool* created, std::string* error);

    int Find(const std::string& sha256, PackageRecord* record) override;
    bool Insert(const PackageRecord& record) override;
    bool Neighbours(const PackageRecord& record, std::optional<PackageRecord>* before,
                    std::optional<PackageRecord>* after) override;
    bool SetDiff(const std::string& sha256, const std::string& previous,
                 const std::string& diff) override;
    bool Search(const SearchQuery& query, std::vector<PackageRecord>* page,
                int64_t* total) override;
    bool History(int64_t unit, std::vector<PackageRecord>* visits) override;
    int AddToken(const std::string& name, TokenRole role, bool fieldTexts,
                 const std::string& hash) override;
    bool ListTokens(std::vector<TokenEntry>* tokens) override;
    int RevokeToken(const std::string& name) override;
    TokenRole RoleOfTokenHash(const std::string& hash) override { return TokenOfHash(hash).role; }
    TokenEntry TokenOfHash(const std::string& hash) override;
    bool AddAudit(const AuditEntry& entry) override;
    bool ReadAudit(const AuditQuery& query, std::vector<AuditEntry>* entries) override;
    bool PurgeCandidates(const std::string& before, int64_t keepLast,
                         std::vector<std::string>* sha256s) override;
    bool MarkPurging(const std::string& sha256) override;
    bool Purging(std::vector<PurgeEntry>* entries) override;
    bool EndPurging(const std::string& sha256) override;
    bool BeginWrite() override;
    bool Commit() override;
    void Rollback() override { Execute("ROLLBACK"); }
    std::string Error() const override { return m_error; }

  private:
    // Runs a statement; a failure's text is kept for Error().
    std::unique_ptr<Result> Run(const std::string& sql, Params* params = nullptr) {
        Params none;
        if (params == nullptr) params = &none;
        auto result = std::make_unique<Result>(PQexecParams(m_connection, sql.c_str(),
                                                            params->Count(), params->Types(),
                                                            params->Values(), nullptr, nullptr, 0));
        if (!result->Ok()) Fail(PQerrorMessage(m_connection));
        return result;
    }
    // Several statements without parameters (schema, transactions).
    bool Execute(const char* sql) {
        Result result(PQexec(m_connection, sql));
        if (!result.Ok()) Fail(PQerrorMessage(m_connection));
        return result.Ok();
    }
    void Fail(std::string text) {
        while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.pop_back();
        // libpq may quote what it could not parse of the URL, a password included.
        for (const std::string& password : m_passwords) {
            for (size_t at; (at = text.find(password)) != std::string::npos;) {
                text.replace(at, password.size(), "***");
            }
        }
        m_error = text;
    }
    bool Records(const std::string& sql, Params* params, std::vector<PackageRecord>* records) {
        auto result = Run(sql, params);
        records->clear();
        for (int row = 0; row < result->RowCount(); ++row) {
            records->push_back(ReadRecord(*result, row));
        }
        return result->Ok();
    }
    bool Connect(std::string* error);
    bool Migrate(bool* created, std::string* error);

    std::string m_url;
    std::vector<std::string> m_passwords;
    PGconn* m_connection = nullptr;
    std::string m_error;
};

bool PostgresCatalogue::Open(bool* created, std::string* error) {
    *created = false;
    m_connection = Connections().Take(m_url);
    const bool pooled = m_connection != nullptr;
    if (!pooled && !Connect(error)) return false;
    // Also on a connection from the pool: another server, newer, may have migrated the schema
    // since, and this one must then stop writing in its older layout.
    if (Migrate(created, error)) return true;
    // A pooled connection may have outlived its server process (a restart of the database):
    // one new connection is tried before giving up.
    const bool lost = pooled && PQstatus(m_connection) == CONNECTION_BAD;
    PQfinish(m_connection);
    m_connection = nullptr;
    return lost && Connect(error) && Migrate(created, error);
}

bool PostgresCatalogue::Connect(std::string* error) {
    m_connection = PQconnectdb(m_url.c_str());
    if (m_connection != nullptr && PQstatus(m_connection) == CONNECTION_OK) return true;
    Fail(m_connection != nullptr ? PQerrorMessage(m_connection) : "out of memory");
    *error = "cannot open the catalogue " + RedactedLocation(m_url) + ": " + m_error;
    if (m_connection != nullptr) PQfinish(m_connection);
    m_connection = nullptr;
    return false;
}

// The version is read without a lock first, as almost every start finds the schema current.
// Behind it, one transaction under the writers' advisory lock reads it again and applies what is
// missing, so of servers starting together one migrates and the others wait and find it done; a
// failed step leaves the schema as it was, PostgreSQL's schema changes being transactional.
bool PostgresCatalogue::Migrate(bool* created, std::string* error) {
    const std::string versionSql = "SELECT coalesce(max(version), 0) FROM schema_version";
    int64_t current = 0;
    {
        auto version = Run(versionSql);
        if (version->Ok() && version->RowCount() == 1) {
            current = version->Int(0, 0);
        } else if (version->State() != kUndefinedTable) {
            *error = "cannot read the catalogue's version: " + m_error;
            return false;
        }
    }
    if (current < kCatalogueVersion) {
        WriteTransaction transaction(*this);
        bool ok = transaction.Begun() &&
                  Execute("CREATE TABLE IF NOT EXISTS schema_version (version integer NOT NULL)");
        auto version = ok ? Run(versionSql) : nullptr;
        ok = ok && version->Ok();
        current = ok ? version->Int(0, 0) : 0;
        if (ok && current == 0) *created = true;
        for (int64_t next = current; ok && next < kCatalogueVersion; ++next) {
            Params record;
            const std::string number = record.Add(next + 1);
            ok = Execute(kMigrations[next]) &&
                 Run("INSERT INTO schema_version (version) VALUES (" + number + ")", &record)->Ok();
        }
        if (!ok || !transaction.Commit()) {
            *created = false;
            *error = "cannot migrate the catalogue to version " +
                     std::to_string(kCatalogueVersion) + ": " + m_error;
            return false;
        }
    }
    if (current > kCatalogueVersion) {
        *error = "the catalogue has version " + std::to_string(current) +
                 ", newer than this trawler-desk knows (" + std::to_string(kCatalogueVersion) + ")";
        return false;
    }
    return true;
}

// Writers wait for each other on one advisory lock held to the transaction's end, as SQLite's
// BEGIN IMMEDIATE makes them: what an intake reads (is the package there, its neighbours) stays
// true until it commits.
bool PostgresCatalogue::BeginWrite() {
    if (!Execute("BEGIN")) return false;
    Params lock;
    const std::string key = lock.Add(kWriteLock);
    if (Run("SELECT pg_advisory_xact_lock(" + key + ")", &lock)->Ok()) return true;
    Execute("ROLLBACK");
    return false;
}

bool PostgresCatalogue::Commit() {
    // COMMIT of a transaction that failed part-way rolls it back and still succeeds as a
    // command; only its tag tells the two apart.
    Result result(PQexec(m_connection, "COMMIT"));
    if (result.Ok() && result.Command() == "COMMIT") return true;
    if (result.Ok()) {
        m_error = "the transaction failed and was rolled back: " + m_error;
    } else {
        Fail(PQerrorMessage(m_connection));
        Execute("ROLLBACK");
    }
    return false;
}

int PostgresCatalogue::Find(const std::string& sha256, PackageRecord* record) {
    Params p;
    const std::string sha = p.Add(sha256);
    auto result =
        Run(std::string("SELECT ") + kColumns + " FROM packages WHERE sha256 = " + sha, &p);
    if (!result->Ok()) return -1;
    if (result->RowCount() == 0) return 0;
    *record = ReadRecord(*result, 0);
    return 1;
}

bool PostgresCatalogue::Insert(const PackageRecord& r) {
    Params p;
    std::string values;
    const auto add = [&values](const std::string& placeholder) {
        values += (values.empty() ? "" : ",") + placeholder;
    };
    add(p.Add(r.sha256));
    add(p.Add(r.size));
    add(p.Add(r.received));
    add(p.Add(r.verdict));
    add(p.Add(r.errorKind));
    add(p.Add(r.message));
    add(r.hasUnit ? p.Add(r.unitNumber) : p.AddNull(kBigintType));
    add(p.Add(r.firmware));
    add(p.Add(r.clock));
    add(p.Add(r.collected));
    add(p.Add(r.customer));
    add(p.Add(r.comment));
    add(p.Add(r.pcLine));
    add(r.logLength >= 0 ? p.Add(r.logLength) : p.AddNull(kBigintType));
    add(p.Add(r.ticket));
    add(p.Add(r.technician));
    add(p.Add(r.report));
    add(p.Add(r.previous));
    add(p.Add(r.diff));
    add(p.Add(r.kind));
    add(p.Add(r.summary));
    return Run(std::string("INSERT INTO packages (") + kColumns + ") VALUES (" + values + ")", &p)
        ->Ok();
}

bool PostgresCatalogue::Neighbours(const PackageRecord& r, std::optional<PackageRecord>* before,
                                   std::optional<PackageRecord>* after) {
    before->reset();
    after->reset();
    if (!r.hasUnit) return true;
    for (bool earlier : {true, false}) {
        Params p;
        const std::string unit = p.Add(r.unitNumber);
        const std::string place = "(" + p.Add(r.collected) + ", " + p.Add(r.clock) + ", " +
                                  p.Add(r.received) + ", " + p.Add(r.sha256) + ")";
        std::vector<PackageRecord> found;
        std::string sql = std::string("SELECT ") + kColumns;
        sql += " FROM packages WHERE unit_number = " + unit;
        sql += std::string(" AND verdict = 'valid' AND (") + kCollectionOrder + ") ";
        sql += (earlier ? "< " : "> ") + place;
        sql += std::string(" ORDER BY ") + (earlier ? kNewestFirst : kCollectionOrder) + " LIMIT 1";
        if (!Records(sql, &p, &found)) {
            return false;
        }
        if (!found.empty()) *(earlier ? before : after) = found.front();
    }
    return true;
}

bool PostgresCatalogue::SetDiff(const std::string& sha256, const std::string& previous,
                                const std::string& diff) {
    Params p;
    const std::string sql = "UPDATE packages SET previous = " + p.Add(previous) +
                            ", diff = " + p.Add(diff) + " WHERE sha256 = " + p.Add(sha256);
    return Run(sql, &p)->Ok();
}

bool PostgresCatalogue::Search(const SearchQuery& q, std::vector<PackageRecord>* page,
                               int64_t* total) {
    // Only the conditions asked for are in the SQL (fixed fragments, values always bound), so
    // the planner picks the index for the mix.
    Params p;
    std::string where = " FROM packages";
    const auto condition = [&where](const std::string& sql) {
        where += where.find(" WHERE ") == std::string::npos ? " WHERE " : " AND ";
        where += sql;
    };
    if (q.unit) condition("unit_number = " + p.Add(*q.unit));
    if (!q.firmware.empty()) condition("firmware = " + p.Add(q.firmware));
    if (!q.text.empty()) {
        const std::string like = p.Add(LikeContaining(q.text));
        condition("(customer ILIKE " + like + " ESCAPE '\\' OR comment ILIKE " + like +
                  " ESCAPE '\\')");
    }
    if (!q.from.empty()) condition("received >= " + p.Add(q.from));
    if (!q.to.empty()) condition("received <= " + p.Add(q.to));
    if (!q.verdict.empty()) condition("verdict = " + p.Add(q.verdict));
    // The count and the page from one snapshot, so a package arriving between them does not
    // shift a page counted from the oldest end.
    if (!Execute("BEGIN ISOLATION LEVEL REPEATABLE READ READ ONLY")) return false;
    Params countParams = p;
    auto count = Run("SELECT count(*)" + where, &countParams);
    if (!count->Ok()) {
        Execute("ROLLBACK");
        return false;
    }
    *total = count->Int(0, 0);
    page->clear();
    int64_t offset = (q.page - 1) * kSearchPageSize;
    bool ok = true;
    if (offset < *total) {
        // As in SQLite: the page's ids from an index first, then only those rows; a page in the
        // older half counted from the oldest end.
        const int64_t limit = std::min(kSearchPageSize, *total - offset);
        const bool fromOldest = offset > *total / 2;
        if (fromOldest) offset = *total - offset - limit;
        const std::string newest = " ORDER BY received DESC, id DESC";
        const std::string sql = std::string("SELECT ") + kColumns +
                                " FROM packages WHERE id IN (SELECT id" + where +
                                (fromOldest ? " ORDER BY received, id" : newest) + " LIMIT " +
                                p.Add(limit) + " OFFSET " + p.Add(offset) + ")" + newest;
        ok = Records(sql, &p, page);
    }
    Execute(ok ? "COMMIT" : "ROLLBACK");
    return ok;
}

bool PostgresCatalogue::History(int64_t unit, std::vector<PackageRecord>* visits) {
    Params p;
    const std::string number = p.Add(unit);
    return Records(std::string("SELECT ") + kColumns + " FROM packages WHERE unit_number = " +
                       number + " ORDER BY " + kCollectionOrder,
                   &p, visits);
}

int PostgresCatalogue::AddToken(const std::string& name, TokenRole role, bool fieldTexts,
                                const std::string& hash) {
    Params p;
    const std::string sql = "INSERT INTO tokens (name, role, hash, created, field_texts) VALUES (" +
                            p.Add(name) + ", " + p.Add(std::string(RoleName(role))) + ", " +
                            p.Add(hash) + ", " + p.Add(UtcNow()) + ", " +
                            p.Add(std::string(fieldTexts ? "true" : "false")) + "::boolean)";
    auto result = Run(sql, &p);
    if (result->Ok()) return 1;
    return result->State() == kUniqueViolation ? 0 : -1;
}

bool PostgresCatalogue::ListTokens(std::vector<TokenEntry>* tokens) {
    auto result = Run("SELECT name, role, created, field_texts FROM tokens ORDER BY name");
    tokens->clear();
    for (int row = 0; row < result->RowCount(); ++row) {
        tokens->push_back({result->Text(row, 0), RoleFromName(result->Text(row, 1)),
                           result->Text(row, 2), result->Text(row, 3) == "t"});
    }
    return result->Ok();
}

int PostgresCatalogue::RevokeToken(const std::string& name) {
    Params p;
    const std::string sql = "DELETE FROM tokens WHERE name = " + p.Add(name);
    auto result = Run(sql, &p);
    if (!result->Ok()) return -1;
    return result->Affected() > 0 ? 1 : 0;
}

TokenEntry PostgresCatalogue::TokenOfHash(const std::string& hash) {
    // Every token is compared, as in SQLite: the answer's time says nothing about a guess.
    auto result = Run("SELECT hash, name, role, created, field_texts FROM tokens");
    TokenEntry found;
    if (!result->Ok()) return found;
    for (int row = 0; row < result->RowCount(); ++row) {
        if (ConstantTimeEqual(result->Text(row, 0), hash)) {
            found = {result->Text(row, 1), RoleFromName(result->Text(row, 2)), result->Text(row, 3),
                     result->Text(row, 4) == "t"};
        }
    }
    return found;
}

bool PostgresCatalogue::AddAudit(const AuditEntry& e) {
    // Inside a caller's transaction (a token's change and its entry, kept together) the lock
    // is held to that transaction's end; otherwise to the end of one of its own.
    const bool own = PQtransactionStatus(m_connection) == PQTRANS_IDLE;
    if (own && !Execute("BEGIN")) return false;
    Params lock;
    const std::string key = lock.Add(kAuditLock);
    Params p;
    const std::string sql = "INSERT INTO audit (at, who, action, subject, address) VALUES (" +
                            p.Add(e.at) + ", " + p.Add(e.who) + ", " + p.Add(e.action) + ", " +
                            p.Add(e.subject) + ", " + p.Add(e.address) + ")";
    if (Run("SELECT pg_advisory_xact_lock(" + key + ")", &lock)->Ok() && Run(sql, &p)->Ok()) {
        return !own || Commit();
    }
    if (own) Execute("ROLLBACK");
    return false;
}

bool PostgresCatalogue::ReadAudit(const AuditQuery& q, std::vector<AuditEntry>* entries) {
    Params p;
    const std::string sql = "SELECT id, at, who, action, subject, address FROM audit WHERE id > " +
                            p.Add(q.after) + " AND at >= " + p.Add(q.since) +
                            " ORDER BY id LIMIT " + p.Add(q.limit);
    auto result = Run(sql, &p);
    entries->clear();
    for (int row = 0; row < result->RowCount(); ++row) {
        entries->push_back({result->Int(row, 0), result->Text(row, 1), result->Text(row, 2),
                            result->Text(row, 3), result->Text(row, 4), result->Text(row, 5)});
    }
    return result->Ok();
}

bool PostgresCatalogue::PurgeCandidates(const std::string& before, int64_t keepLast,
                                        std::vector<std::string>* sha256s) {
    Params p;
    const std::string sql =
        std::string(
            "SELECT sha256 FROM (SELECT sha256, received, unit_number,"
            " row_number() OVER (PARTITION BY unit_number ORDER BY ") +
        kNewestFirst + ") AS newest FROM packages) AS ranked WHERE received < " + p.Add(before) +
        " AND (unit_number IS NULL OR newest > " + p.Add(keepLast) + ") ORDER BY received";
    auto result = Run(sql, &p);
    sha256s->clear();
    for (int row = 0; row < result->RowCount(); ++row) sha256s->push_back(result->Text(row, 0));
    return result->Ok();
}

bool PostgresCatalogue::MarkPurging(const std::string& sha256) {
    Params keep;
    const std::string keepSql =
        "INSERT INTO purges (sha256, unit_number, received, marked) SELECT sha256, unit_number,"
        " received, " +
        keep.Add(UtcNow()) + " FROM packages WHERE sha256 = " + keep.Add(sha256);
    Params forget;
    const std::string forgetSql =
        "UPDATE packages SET previous = '', diff = '' WHERE previous = " + forget.Add(sha256);
    Params remove;
    const std::string removeSql = "DELETE FROM packages WHERE sha256 = " + remove.Add(sha256);
    return Run(keepSql, &keep)->Ok() && Run(forgetSql, &forget)->Ok() &&
           Run(removeSql, &remove)->Ok();
}

bool PostgresCatalogue::Purging(std::vector<PurgeEntry>* entries) {
    auto result = Run("SELECT sha256, unit_number, received, marked FROM purges ORDER BY marked");
    entries->clear();
    for (int row = 0; row < result->RowCount(); ++row) {
        PurgeEntry e;
        e.sha256 = result->Text(row, 0);
        if (!result->IsNull(row, 1)) e.unit = result->Int(row, 1);
        e.received = result->Text(row, 2);
        e.marked = result->Text(row, 3);
        entries->push_back(e);
    }
    return result->Ok();
}

bool PostgresCatalogue::EndPurging(const std::string& sha256) {
    Params p;
    const std::string sql = "DELETE FROM purges WHERE sha256 = " + p.Add(sha256);
    return Run(sql, &p)->Ok();
}

}  // namespace

std::unique_ptr<Catalogue> OpenPostgresCatalogue(const std::string& url, bool* created,
                                                 std::string* error) {
    auto catalogue = std::make_unique<PostgresCatalogue>(url);
    if (!catalogue->Open(created, error)) return nullptr;
    return catalogue;
}

}  // namespace trawler::desk
