// The catalogue over SQLite: schema migrations, packages, histories and tokens.
#include <sqlite3.h>

#include <algorithm>

#include "desk/catalogue_backends.h"
#include "desk/sqlite_db.h"
#include "desk/tokens.h"

namespace trawler::desk {

namespace {

// Migration N brings the schema from version N-1 to N; a migration is never edited once
// released, only followed by another.
constexpr const char* kMigrations[] = {
    // 1: packages with their report and the diff to the unit's previous visit; tokens.
    "CREATE TABLE packages ("
    " sha256 TEXT PRIMARY KEY, size INTEGER NOT NULL, received TEXT NOT NULL,"
    " verdict TEXT NOT NULL, error_kind TEXT NOT NULL, message TEXT NOT NULL,"
    " unit_number INTEGER, firmware TEXT NOT NULL, clock TEXT NOT NULL,"
    " collected TEXT NOT NULL, customer TEXT NOT NULL, comment TEXT NOT NULL,"
    " pc_line TEXT NOT NULL, log_length INTEGER, ticket TEXT NOT NULL,"
    " technician TEXT NOT NULL, report TEXT NOT NULL, previous TEXT NOT NULL,"
    " diff TEXT NOT NULL);"
    "CREATE INDEX packages_by_unit ON packages(unit_number, collected, clock, received);"
    "CREATE INDEX packages_by_received ON packages(received);"
    "CREATE TABLE tokens (name TEXT PRIMARY KEY, role TEXT NOT NULL,"
    " hash TEXT NOT NULL UNIQUE, created TEXT NOT NULL);",
    // 2: search without reading the packages' rows, which hold a report and a diff of several
    // kilobytes each: an index per exact field in the list's order (newest received first),
    // and one that holds every field searched, so that a text search, any mix of conditions,
    // every count and the choice of a page's rows read an index alone.
    "CREATE INDEX packages_by_firmware ON packages(firmware, received);"
    "CREATE INDEX packages_by_verdict ON packages(verdict, received);"
    "CREATE INDEX packages_search ON packages(received, unit_number, firmware, verdict, customer,"
    " comment);",
    // 3: retention. A package being purged leaves packages before its file leaves the store,
    // and waits here until the file is gone; the index finds the diffs made against it.
    "CREATE TABLE purges (sha256 TEXT PRIMARY KEY, unit_number INTEGER, received TEXT NOT NULL,"
    " marked TEXT NOT NULL);"
    "CREATE INDEX packages_by_previous ON packages(previous);",
    // 4: the right to see field texts, and the audit log. The log's triggers refuse any change
    // and any removal, so that not even a bug of ours can rewrite what was read.
    "ALTER TABLE tokens ADD COLUMN field_texts INTEGER NOT NULL DEFAULT 0;"
    "CREATE TABLE audit (id INTEGER PRIMARY KEY AUTOINCREMENT, at TEXT NOT NULL,"
    " who TEXT NOT NULL, action TEXT NOT NULL, subject TEXT NOT NULL, address TEXT NOT NULL);"
    "CREATE INDEX audit_by_time ON audit(at);"
    "CREATE TRIGGER audit_unchanged BEFORE UPDATE ON audit"
    " BEGIN SELECT RAISE(ABORT, 'the audit log is append-only'); END;"
    "CREATE TRIGGER audit_kept BEFORE DELETE ON audit"
    " BEGIN SELECT RAISE(ABORT, 'the audit log is append-only'); END;",
    // 5: recordings of runs, catalogued beside the packages: what each row is, and for a
    // recording what its replay showed.
    "ALTER TABLE packages ADD COLUMN kind TEXT NOT NULL DEFAULT 'package';"
    "ALTER TABLE packages ADD COLUMN summary TEXT NOT NULL DEFAULT '';",
};
static_assert(sizeof kMigrations / sizeof kMigrations[0] == kCatalogueVersion,
              "one migration per catalogue version");

PackageRecord ReadRecord(const Statement& s) {
    PackageRecord r;
    r.sha256 = s.Text(0);
    r.size = s.Int(1);
    r.received = s.Text(2);
    r.verdict = s.Text(3);
    r.errorKind = s.Text(4);
    r.message = s.Text(5);
    r.hasUnit = !s.IsNull(6);
    r.unitNumber = s.Int(6);
    r.firmware = s.Text(7);
    r.clock = s.Text(8);
    r.collected = s.Text(9);
    r.customer = s.Text(10);
    r.comment = s.Text(11);
    r.pcLine = s.Text(12);
    r.logLength = s.IsNull(13) ? -1 : s.Int(13);
    r.ticket = s.Text(14);
    r.technician = s.Text(15);
    r.report = s.Text(16);
    r.previous = s.Text(17);
    r.diff = s.Text(18);
    r.kind = s.Text(19);
    r.summary = s.Text(20);
    return r;
}

class SqliteCatalogue : public Catalogue {
  public:
    bool Open(const std::string& path, bool* created, std::string* error);

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
    bool BeginWrite() override { return m_db.Execute("BEGIN IMMEDIATE"); }
    bool Commit() override {
        if (m_db.Execute("COMMIT")) return true;
        m_db.Execute("ROLLBACK");
        return false;
    }
    void Rollback() override { m_db.Execute("ROLLBACK"); }
    std::string Error() const override { return m_db.Error(); }

  private:
    bool Migrate(bool* created, std::string* error);
    Database m_db;
};

}  // namespace

bool SqliteCatalogue::Open(const std::string& path, bool* created, std::string* error) {
    if (!m_db.Open(path)) {
        *error = "cannot open the catalogue " + path + ": " + m_db.Error();
        return false;
    }
    if (!m_db.Execute("CREATE TABLE IF NOT EXISTS schema_version (version INTEGER NOT NULL)")) {
        *error = "cannot read the catalogue " + path + ": " + m_db.Error();
        return false;
    }
    return Migrate(created, error);
}

bool SqliteCatalogue::Migrate(bool* created, std::string* error) {
    *created = false;
    for (;;) {
        int64_t current = 0;
        {
            Statement version(m_db, "SELECT coalesce(max(version), 0) FROM schema_version");
            if (!version.Step()) {
                *error = "cannot read the catalogue's version: " + m_db.Error();
                return false;
            }
            current = version.Int(0);
        }
        if (current == kCatalogueVersion) return true;
        if (current > kCatalogueVersion) {
            *error = "the catalogue has version " + std::to_string(current) +
                     ", newer than this trawler-desk knows (" + std::to_string(kCatalogueVersion) +
                     ")";
            return false;
        }
        // Each step in a transaction that reads the version again under the write lock, so two
        // processes opening an old catalogue at once migrate it once.
        Transaction transaction(m_db, true);
        if (!transaction.Begun()) {
            *error = "cannot lock the catalogue to migrate it: " + m_db.Error();
            return false;
        }
        bool unchanged = false;
        {
            Statement again(m_db, "SELECT coalesce(max(version), 0) FROM schema_version");
            unchanged = again.Step() && again.Int(0) == current;
        }
        if (!unchanged) continue;
        // Decided under the write lock, so that of servers starting together on a new
        // catalogue only one makes the admin token.
        if (current == 0) *created = true;
        bool migrated = m_db.Execute(kMigrations[current]);
        if (migrated) {
            Statement record(m_db, "INSERT INTO schema_version (version) VALUES (?)");
            record.Bind(1, current + 1);
            record.Step();
            migrated = record.Done();
        }
        if (!migrated || !transaction.Commit()) {
            *error = "cannot migrate the catalogue to version " + std::to_string(current + 1) +
                     ": " + m_db.Error();
            return false;
        }
    }
}

int SqliteCatalogue::Find(const std::string& sha256, PackageRecord* record) {
    Statement s(m_db,
                (std::string("SELECT ") + kColumns + " FROM packages WHERE sha256 = ?").c_str());
    s.Bind(1, sha256);
    if (s.Step()) {
        *record = ReadRecord(s);
        return 1;
    }
    return s.Done() ? 0 : -1;
}

bool SqliteCatalogue::Insert(const PackageRecord& r) {
    Statement s(m_db, (std::string("INSERT INTO packages (") + kColumns +
                       ") VALUES (?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?)")
                          .c_str());
    s.Bind(1, r.sha256).Bind(2, r.size).Bind(3, r.received).Bind(4, r.verdict);
    s.Bind(5, r.errorKind).Bind(6, r.message);
    if (r.hasUnit) {
        s.Bind(7, r.unitNumber);
    } else {
        s.BindNull(7);
    }
    s.Bind(8, r.firmware).Bind(9, r.clock).Bind(10, r.collected).Bind(11, r.customer);
    s.Bind(12, r.comment).Bind(13, r.pcLine);
    if (r.logLength >= 0) {
        s.Bind(14, r.logLength);
    } else {
        s.BindNull(14);
    }
    s.Bind(15, r.ticket).Bind(16, r.technician).Bind(17, r.report).Bind(18, r.previous);
    s.Bind(19, r.diff).Bind(20, r.kind).Bind(21, r.summary);
    s.Step();
    return s.Done();
}

bool SqliteCatalogue::Neighbours(const PackageRecord& r, std::optional<PackageRecord>* before,
                                 std::optional<PackageRecord>* after) {
    before->reset();
    after->reset();
    if (!r.hasUnit) return true;
    // Row values compare as the ORDER BY orders, so "before" and "after" follow the same order.
    const std::string where = std::string(" FROM packages WHERE unit_number = ?1 AND verdict = ") +
                              "'valid' AND (" + kCollectionOrder + ") ";
    Statement b(m_db, (std::string("SELECT ") + kColumns + where + "< (?2, ?3, ?4, ?5) ORDER BY " +
                       kNewestFirst + " LIMIT 1")
                          .c_str());
    Statement a(m_db, (std::string("SELECT ") + kColumns + where + "> (?2, ?3, ?4, ?5) ORDER BY " +
                       kCollectionOrder + " LIMIT 1")
                          .c_str());
    for (Statement* s : {&b, &a}) {
        s->Bind(1, r.unitNumber).Bind(2, r.collected).Bind(3, r.clock).Bind(4, r.received);
        s->Bind(5, r.sha256);
    }
    if (b.Step()) {
        *before = ReadRecord(b);
    } else if (!b.Done()) {
        return false;
    }
    if (a.Step()) {
        *after = ReadRecord(a);
    } else if (!a.Done()) {
        return false;
    }
    return true;
}

bool SqliteCatalogue::SetDiff(const std::string& sha256, const std::string& previous,
                              const std::string& diff) {
    Statement s(m_db, "UPDATE packages SET previous = ?, diff = ? WHERE sha256 = ?");
    s.Bind(1, previous).Bind(2, diff).Bind(3, sha256);
    s.Step();
    return s.Done();
}

namespace {

// The FROM and WHERE of a search, with ?1 to ?7 for the query's values. Only the conditions
// asked for are in the SQL (fixed fragments, values always bound), so that SQLite can use an
// index: a condition switched off by its parameter ("?1 IS NULL OR ...") is planned without
// any, a scan of every row. The index is chosen here, as the planner has no statistics: a
// unit's few rows by the unit; no condition, a time range, a firmware or a verdict alone by its
// own index, whose order is the list's; any other mix by packages_search, which holds every
// field searched (the planner would rather take the time's index for its order and read every
// row for the texts). A "+" before a column keeps SQLite from using that column's index.
std::string SearchFromWhere(const SearchQuery& q) {
    const bool exact = !q.firmware.empty() || !q.verdict.empty();
    const bool range = !q.from.empty() || !q.to.empty();
    const int kinds = !q.firmware.empty() + !q.verdict.empty() + range;
    const bool alone = !q.unit && q.text.empty() && kinds <= 1;
    std::string where =
        q.unit || alone ? " FROM packages" : " FROM packages INDEXED BY packages_search";
    const auto condition = [&where](const std::string& sql) {
        where += where.find(" WHERE ") == std::string::npos ? " WHERE " : " AND ";
        where += sql;
    };
    const std::string plus = alone && exact ? "" : "+";
    if (q.unit) condition("unit_number = ?1");
    if (!q.firmware.empty()) condition(plus + "firmware = ?2");
    if (!q.text.empty()) condition("(customer LIKE ?4 ESCAPE '\\' OR comment LIKE ?4 ESCAPE '\\')");
    const std::string received = q.unit ? "+received" : "received";
    if (!q.from.empty()) condition(received + " >= ?5");
    if (!q.to.empty()) condition(received + " <= ?6");
    if (!q.verdict.empty()) condition(plus + "verdict = ?7");
    return where;
}

}  // namespace

bool SqliteCatalogue::Search(const SearchQuery& q, std::vector<PackageRecord>* page,
                             int64_t* total) {
    const std::string where = SearchFromWhere(q);
    // Binding a parameter that the SQL does not hold fails alone and changes nothing.
    const auto bind = [&q](Statement* s) {
        if (q.unit) s->Bind(1, *q.unit);
        s->Bind(2, q.firmware).Bind(4, LikeContaining(q.text));
        s->Bind(5, q.from).Bind(6, q.to).Bind(7, q.verdict);
    };
    // The count and the page from one snapshot, so a package arriving between them does not
    // shift a page counted from the oldest end.
    Transaction snapshot(m_db, false);
    Statement count(m_db, ("SELECT count(*)" + where).c_str());
    bind(&count);
    if (!count.Step()) return false;
    *total = count.Int(0);
    page->clear();
    int64_t offset = (q.page - 1) * kSearchPageSize;
    // A page past the last one is empty without a second scan.
    if (offset >= *total) return true;
    // The page's rows are chosen by their rowids first, from an index alone, and only those
    // rows are read: the rows skipped for a deep page are never read from the table. A page in
    // the older half is counted from the oldest end, so no page skips more than half the list.
    const int64_t limit = std::min(kSearchPageSize, *total - offset);
    const bool fromOldest = offset > *total / 2;
    if (fromOldest) offset = *total - offset - limit;
    const std::string newest = " ORDER BY received DESC, rowid DESC";
    Statement rows(
        m_db,
        (std::string("SELECT ") + kColumns + " FROM packages WHERE rowid IN (SELECT rowid" + where +
         (fromOldest ? " ORDER BY received, rowid" : newest) + " LIMIT ?8 OFFSET ?9)" + newest)
            .c_str());
    bind(&rows);
    rows.Bind(8, limit).Bind(9, offset);
    while (rows.Step()) page->push_back(ReadRecord(rows));
    return rows.Done();
}

bool SqliteCatalogue::History(int64_t unit, std::vector<PackageRecord>* visits) {
    Statement s(m_db, (std::string("SELECT ") + kColumns +
                       " FROM packages WHERE unit_number = ? ORDER BY " + kCollectionOrder)
                          .c_str());
    s.Bind(1, unit);
    visits->clear();
    while (s.Step()) visits->push_back(ReadRecord(s));
    return s.Done();
}

int SqliteCatalogue::AddToken(const std::string& name, TokenRole role, bool fieldTexts,
                              const std::string& hash) {
    Statement s(m_db,
                "INSERT INTO tokens (name, role, hash, created, field_texts)"
                " VALUES (?, ?, ?, ?, ?)");
    s.Bind(1, name).Bind(2, RoleName(role)).Bind(3, hash).Bind(4, UtcNow());
    s.Bind(5, int64_t{fieldTexts ? 1 : 0});
    s.Step();
    if (s.Done()) return 1;
    return (s.ResultCode() & 0xFF) == SQLITE_CONSTRAINT ? 0 : -1;
}

bool SqliteCatalogue::ListTokens(std::vector<TokenEntry>* tokens) {
    Statement s(m_db, "SELECT name, role, created, field_texts FROM tokens ORDER BY name");
    tokens->clear();
    while (s.Step()) {
        tokens->push_back({s.Text(0), RoleFromName(s.Text(1)), s.Text(2), s.Int(3) != 0});
    }
    return s.Done();
}

int SqliteCatalogue::RevokeToken(const std::string& name) {
    Statement s(m_db, "DELETE FROM tokens WHERE name = ?");
    s.Bind(1, name);
    s.Step();
    if (!s.Done()) return -1;
    return sqlite3_changes(m_db.Handle()) > 0 ? 1 : 0;
}

TokenEntry SqliteCatalogue::TokenOfHash(const std::string& hash) {
    // Every token is compared, with no early end and no index lookup by the secret's hash, so
    // the answer's time says nothing about how close a guess came.
    Statement s(m_db, "SELECT hash, name, role, created, field_texts FROM tokens");
    TokenEntry found;
    while (s.Step()) {
        if (ConstantTimeEqual(s.Text(0), hash)) {
            found = {s.Text(1), RoleFromName(s.Text(2)), s.Text(3), s.Int(4) != 0};
        }
    }
    return s.Done() ? found : TokenEntry{};
}

bool SqliteCatalogue::AddAudit(const AuditEntry& e) {
    Statement s(m_db,
                "INSERT INTO audit (at, who, action, subject, address) VALUES (?, ?, ?, ?, ?)");
    s.Bind(1, e.at).Bind(2, e.who).Bind(3, e.action).Bind(4, e.subject).Bind(5, e.address);
    s.Step();
    return s.Done();
}

bool SqliteCatalogue::ReadAudit(const AuditQuery& q, std::vector<AuditEntry>* entries) {
    Statement s(m_db,
                "SELECT id, at, who, action, subject, address FROM audit"
                " WHERE id > ?1 AND at >= ?2 ORDER BY id LIMIT ?3");
    s.Bind(1, q.after).Bind(2, q.since).Bind(3, q.limit);
    entries->clear();
    while (s.Step()) {
        entries->push_back({s.Int(0), s.Text(1), s.Text(2), s.Text(3), s.Text(4), s.Text(5)});
    }
    return s.Done();
}

bool SqliteCatalogue::PurgeCandidates(const std::string& before, int64_t keepLast,
                                      std::vector<std::string>* sha256s) {
    Statement s(m_db,
                (std::string("SELECT sha256 FROM (SELECT sha256, received, unit_number,"
                             " row_number() OVER (PARTITION BY unit_number ORDER BY ") +
                 kNewestFirst + ") AS newest FROM packages) AS ranked WHERE received < ?1 AND" +
                 " (unit_number IS NULL OR newest > ?2) ORDER BY received")
                    .c_str());
    s.Bind(1, before).Bind(2, keepLast);
    sha256s->clear();
    while (s.Step()) sha256s->push_back(s.Text(0));
    return s.Done();
}

bool SqliteCatalogue::MarkPurging(const std::string& sha256) {
    Statement keep(m_db,
                   "INSERT INTO purges (sha256, unit_number, received, marked)"
                   " SELECT sha256, unit_number, received, ?2 FROM packages WHERE sha256 = ?1");
    keep.Bind(1, sha256).Bind(2, UtcNow());
    keep.Step();
    Statement forget(m_db, "UPDATE packages SET previous = '', diff = '' WHERE previous = ?");
    forget.Bind(1, sha256);
    forget.Step();
    Statement remove(m_db, "DELETE FROM packages WHERE sha256 = ?");
    remove.Bind(1, sha256);
    remove.Step();
    return keep.Done() && forget.Done() && remove.Done();
}

bool SqliteCatalogue::Purging(std::vector<PurgeEntry>* entries) {
    Statement s(m_db, "SELECT sha256, unit_number, received, marked FROM purges ORDER BY marked");
    entries->clear();
    while (s.Step()) {
        PurgeEntry e;
        e.sha256 = s.Text(0);
        if (!s.IsNull(1)) e.unit = s.Int(1);
        e.received = s.Text(2);
        e.marked = s.Text(3);
        entries->push_back(e);
    }
    return s.Done();
}

bool SqliteCatalogue::EndPurging(const std::string& sha256) {
    Statement s(m_db, "DELETE FROM purges WHERE sha256 = ?");
    s.Bind(1, sha256);
    s.Step();
    return s.Done();
}

std::unique_ptr<Catalogue> OpenSqliteCatalogue(const std::string& path, bool* created,
                                               std::string* error) {
    auto catalogue = std::make_unique<SqliteCatalogue>();
    if (!catalogue->Open(path, created, error)) return nullptr;
    return catalogue;
}

}  // namespace trawler::desk
