// What the catalogue's implementations share: the column list, the orders, and how each opens.
// Only catalogue.cpp and the implementations include this.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "desk/catalogue.h"

namespace trawler::desk {

constexpr char kColumns[] =
    "sha256, size, received, verdict, error_kind, message, unit_number, firmware, clock,"
    " collected, customer, comment, pc_line, log_length, ticket, technician, report, previous,"
    " diff, kind, summary";

// Collection order: the time in the package, then the printer's clock (two visits within a
// minute), then arrival; the digest makes the order total. Both databases compare these texts
// byte by byte (PostgreSQL's columns are declared COLLATE "C"), so both give one order.
constexpr char kCollectionOrder[] = "collected, clock, received, sha256";
constexpr char kNewestFirst[] = "collected DESC, clock DESC, received DESC, sha256 DESC";

// A LIKE pattern, escaped with '\', that matches the text literally: its own wildcards escaped.
std::string LikeContaining(const std::string& text);

// A URL's passwords, as written and percent-decoded, for taking out of error texts.
std::vector<std::string> LocationPasswords(const std::string& location);

std::unique_ptr<Catalogue> OpenSqliteCatalogue(const std::string& path, bool* created,
                                               std::string* error);
std::unique_ptr<Catalogue> OpenPostgresCatalogue(const std::string& url, bool* created,
                                                 std::string* error);

}  // namespace trawler::desk
