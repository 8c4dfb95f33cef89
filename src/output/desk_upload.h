// One package to the support desk: PUT /api/v1/packages/{sha256} with an upload token, and what
// the answer means for a package waiting in an outbox.
#pragma once

#include <string>

#include <nlohmann/json_fwd.hpp>

#include "platform/http_client.h"

namespace trawler {

// The desk's URL without a trailing slash, the scheme in lower case; empty with *error set when
// it cannot be one. A path is allowed (a desk behind a proxy under /desk/); a query, a fragment
// or credentials are not: the token goes in its header, never in a URL that gets printed.
std::string DeskBase(const std::string& url, std::string* error);

// A token goes into a header as it is: printable ASCII only, so it can neither break the header
// nor be mistaken for something else.
bool UsableToken(const std::string& token);

enum class DeskVerdict {
    kAdded,         // the desk has it now
    kAlready,       // the desk had it before
    kTokenRefused,  // 401 or 403: the token is wrong or has not the upload role
    kRefused,       // another 4xx: the desk will never take this file
    kUnreachable,   // no answer, a 5xx, or something other than the desk answered
    kUnreadable,    // the package could not be read
};

struct DeskSendResult {
    DeskVerdict verdict = DeskVerdict::kUnreachable;
    // What went wrong, for the technician's screen: the desk's own message or the client's.
    std::string detail;
};

// Whether a 200/201 answer's object is the desk's for the package sent under this SHA-256: a
// page from something else at the URL (a hotel's login page) says nothing about where the
// package is. A desk that keeps redacted packages only names the digest it was sent as
// received_sha256 beside the redacted form's own.
bool IsDeskAnswerFor(const nlohmann::json& answer, const std::string& sha256);

// What an answer to the PUT of the package with this SHA-256 means.
DeskSendResult JudgeDeskAnswer(const HttpAnswer& answer, const std::string& sha256);

// Whether the package stays in the outbox: what a later try could mend. A refused token is
// mended by IT, not by the package, so the package waits for it rather than being forgotten.
bool StaysQueued(DeskVerdict verdict);

// Sends the file once (no retries: the outbox is the retry). `base` is DeskBase's result.
DeskSendResult SendPackageToDesk(const std::string& base, const std::string& token,
                                 const std::string& path, const std::string& userAgent);

}  // namespace trawler
