// The desk's catalogue: what is known of every package in the store, the unit histories with
// their stored diffs, and the access tokens, in one SQLite file (DIR/catalogue.db).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "desk/sqlite_db.h"

namespace trawler::desk {

// The schema this program writes; older catalogues are migrated on opening.
constexpr int kCatalogueVersion = 2;

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
};

class Catalogue {
  public:
    // Opens or creates the file and brings its schema to kCatalogueVersion; *created says
    // whether it was new (the first start, which makes the admin token).
    bool Open(const std::string& path, bool* created, std::string* error);
    Database& Db() { return m_db; }

    // 1 found, 0 not there, -1 the catalogue failed.
    int Find(const std::string& sha256, PackageRecord* record);
    bool Insert(const PackageRecord& record);
    // The valid visits of a unit just before and after a package's place in collection order.
    bool Neighbours(const PackageRecord& record, std::optional<PackageRecord>* before,
                    std::optional<PackageRecord>* after);
    bool SetDiff(const std::string& sha256, const std::string& previous, const std::string& diff);

    bool Search(const SearchQuery& query, std::vector<PackageRecord>* page, int64_t* total);
    // Every package of the unit in collection order, damaged ones included.
    bool History(int64_t unit, std::vector<PackageRecord>* visits);

    // 1 added, 0 the name is taken, -1 failed.
    int AddToken(const std::string& name, TokenRole role, const std::string& hash);
    bool ListTokens(std::vector<TokenEntry>* tokens);
    // 1 revoked, 0 no such name, -1 failed.
    int RevokeToken(const std::string& name);
    // The role of the token whose hash this is; kNone for none.
    TokenRole RoleOfTokenHash(const std::string& hash);

  private:
    bool Migrate(std::string* error);
    Database m_db;
};

// The current time as the catalogue keeps it.
std::string UtcNow();

}  // namespace trawler::desk
