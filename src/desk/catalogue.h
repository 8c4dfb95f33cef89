// The desk's catalogue: what is known of every package in the store, the unit histories with
// their stored diffs, and the access tokens. One interface, one implementation per database:
// an SQLite file (DIR/catalogue.db, the default) or a PostgreSQL database (past one machine).
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace trawler::desk {

// The schema this program writes; older catalogues are migrated on opening.
constexpr int kCatalogueVersion = 5;

// What a catalogued file is: a package, or the recording of a run (".ztr"), which the unit's
// history lists beside its packages.
constexpr char kKindPackage[] = "package";
constexpr char kKindRecording[] = "recording";

// One catalogued package. Texts are UTF-8 (converted as inspect shows them); fields a damaged
// package does not reach are empty (hasUnit false, logLength -1).
struct PackageRecord {
    std::string sha256;
    int64_t size = 0;
    std::string received;  // UTC, "2026-12-07T20:45:04Z"
    std::string verdict;   // "valid" or "damaged"
    std::string errorKind, message;
    bool hasUnit = false;
    int64_t unitNumber = 0;
    std::string firmware;   // "2.1.0.37"
    std::string clock;      // the printer's clock, plain hex as inspect --json gives it
    std::string collected;  // the collection time recorded in the package ("202612071338")
    std::string customer, comment, pcLine;
    int64_t logLength = -1;
    std::string ticket, technician;
    std::string report;    // the inspect --json object
    std::string previous;  // the unit's previous valid visit, when there is one
    std::string diff;      // diff --json from previous to this package
    // A recording's verdict is how its replay ended ("failed" or "saved"); its summary is the
    // replay's messages and phase (recording_replay.h), and its clock the printer's.
    std::string kind = kKindPackage;
    std::string summary;
};

struct SearchQuery {
    std::optional<int64_t> unit;
    std::string firmware;  // exact
    std::string text;      // in customer or comment
    std::string from, to;  // received, inclusive bounds compared as text (ISO 8601)
    std::string verdict;
    int64_t page = 1;  // from 1
};

constexpr int64_t kSearchPageSize = 50;

enum class TokenRole { kNone, kUpload, kViewer, kAdmin };
const char* RoleName(TokenRole role);
TokenRole RoleFromName(const std::string& name);

struct TokenEntry {
    std::string name;
    TokenRole role = TokenRole::kNone;
    std::string created;
    // Whether the token may see the customer, comment and PC texts (an admin token always may).
    bool fieldTexts = false;
};

// Whether the token's holder may see the field texts.
inline bool SeesFieldTexts(const TokenEntry& token) {
    return token.role == TokenRole::kAdmin || token.fieldTexts;
}

// One line of the audit log: who (a token's name, or "console" for the command line) did what
// (the action, and the package or token it was done to), when (UTC) and from where.
struct AuditEntry {
    int64_t id = 0;  // in the order written, from 1
    std::string at;
    std::string who;
    std::string action;
    std::string subject;
    std::string address;
};

// A page of the audit log: the entries after `after` (an id) written at or after `since`
// (ISO 8601 UTC, empty: any time), oldest first, at most `limit` of them.
struct AuditQuery {
    std::string since;
    int64_t after = 0;
    int64_t limit = 100;
};

// A package being purged: its row has left the catalogue, its file may still be in the store.
struct PurgeEntry {
    std::string sha256;
    std::optional<int64_t> unit;
    std::string received;  // when it arrived
    std::string marked;    // when its purge began
};

class Catalogue {
  public:
    virtual ~Catalogue() = default;

    // 1 found, 0 not there, -1 the catalogue failed.
    virtual int Find(const std::string& sha256, PackageRecord* record) = 0;
    virtual bool Insert(const PackageRecord& record) = 0;
    // The valid visits of a unit just before and after a package's place in collection order.
    virtual bool Neighbours(const PackageRecord& record, std::optional<PackageRecord>* before,
                            std::optional<PackageRecord>* after) = 0;
    virtual bool SetDiff(const std::string& sha256, const std::string& previous,
                         const std::string& diff) = 0;

    virtual bool Search(const SearchQuery& query, std::vector<PackageRecord>* page,
                        int64_t* total) = 0;
    // Every package of the unit in collection order, damaged ones included.
    virtual bool History(int64_t unit, std::vector<PackageRecord>* visits) = 0;

    // 1 added, 0 the name is taken, -1 failed.
    virtual int AddToken(const std::string& name, TokenRole role, bool fieldTexts,
                         const std::string& hash) = 0;
    virtual bool ListTokens(std::vector<TokenEntry>* tokens) = 0;
    // 1 revoked, 0 no such name, -1 failed.
    virtual int RevokeToken(const std::string& name) = 0;
    // The role of the token whose hash this is; kNone for none.
    virtual TokenRole RoleOfTokenHash(const std::string& hash) = 0;
    // The token whose hash this is (role kNone for none); its name and rights.
    virtual TokenEntry TokenOfHash(const std::string& hash) = 0;

    // The audit log only grows: there is no call that changes or removes an entry.
    virtual bool AddAudit(const AuditEntry& entry) = 0;
    virtual bool ReadAudit(const AuditQuery& query, std::vector<AuditEntry>* entries) = 0;

    // Retention. The packages received before the time (ISO 8601 UTC) that are not among their
    // unit's keepLast newest visits in collection order.
    virtual bool PurgeCandidates(const std::string& before, int64_t keepLast,
                                 std::vector<std::string>* sha256s) = 0;
    // Moves the package's row into the list of purges under way, forgetting the diffs made
    // against it: from then on no query shows it, and only its file is left to delete.
    virtual bool MarkPurging(const std::string& sha256) = 0;
    // The purges under way, also those of a purge that was cut short.
    virtual bool Purging(std::vector<PurgeEntry>* entries) = 0;
    // The package's file is gone: its purge is over.
    virtual bool EndPurging(const std::string& sha256) = 0;

    // One writer at a time, among every process on the catalogue: what is read inside stays
    // true until Commit. Rollback undoes what Commit did not keep.
    virtual bool BeginWrite() = 0;
    virtual bool Commit() = 0;
    virtual void Rollback() = 0;

    // The last failure's text, for messages; never holds a password.
    virtual std::string Error() const = 0;
};

// A write transaction rolled back unless committed: an early return leaves the catalogue as it
// was.
class WriteTransaction {
  public:
    explicit WriteTransaction(Catalogue& catalogue)
        : m_catalogue(catalogue), m_open(catalogue.BeginWrite()) {}
    ~WriteTransaction() {
        if (m_open) m_catalogue.Rollback();
    }
    WriteTransaction(const WriteTransaction&) = delete;
    WriteTransaction& operator=(const WriteTransaction&) = delete;

    bool Begun() const { return m_open; }
    bool Commit() {
        if (!m_open) return false;
        m_open = false;
        return m_catalogue.Commit();
    }

  private:
    Catalogue& m_catalogue;
    bool m_open;
};

// A PostgreSQL connection URL (postgresql:// or postgres://) rather than a file's path.
bool IsPostgresLocation(const std::string& location);

// The location as messages may show it: a URL's password replaced by "***".
std::string RedactedLocation(const std::string& location);

// Opens the catalogue at the location (a file's path, or a PostgreSQL URL) and brings its
// schema to kCatalogueVersion; *created says whether this call made it (the first start, which
// makes the admin token): of several processes opening a new catalogue at once, exactly one.
// Null with *error when it cannot.
std::unique_ptr<Catalogue> OpenCatalogue(const std::string& location, bool* created,
                                         std::string* error);

// The current time as the catalogue keeps it.
std::string UtcNow();

// A time bound as people write it, a UTC date (2026-12-07) or time (2026-12-07T13:38:00Z), as
// the catalogue keeps times: a date stands for its first second, or its last when `end`.
bool ParseUtcBound(const std::string& text, bool end, std::string* bound);

}  // namespace trawler::desk
