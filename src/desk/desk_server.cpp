// The API's routes. Each request opens its own catalogue connection: SQLite lets many readers
// and one writer work side by side that way (PostgreSQL's are taken from a pool), and a token
// added or revoked by `trawler-desk token` counts from the next request on.
#include "desk/desk_server.h"

#include <httplib.h>

#include <algorithm>
#include <cstdio>
#include <iterator>
#include <memory>
#include <nlohmann/json.hpp>
#include <tuple>

#include "desk/catalogue.h"
#include "desk/intake.h"
#include "desk/store.h"
#include "desk/tokens.h"
#include "desk/web_page.h"
#include "output/package_diff.h"
#include "output/package_reader.h"
#include "output/package_report.h"

namespace trawler::desk {

namespace {

using Json = nlohmann::ordered_json;

constexpr char kJsonType[] = "application/json";
constexpr char kPrefix[] = "/api/v1/";
constexpr uint64_t kDrainAfterCap = 16u << 20;

void Answer(httplib::Response& res, int status, const Json& body) {
    res.status = status;
    res.set_content(body.dump(-1, ' ', false, Json::error_handler_t::replace) + "\n", kJsonType);
}

void Refuse(httplib::Response& res, int status, const std::string& message) {
    Answer(res, status, Json{{"status", status}, {"error", message}});
}

// A stored JSON text as a value; null for an empty one.
Json Parsed(const std::string& text) {
    if (text.empty()) return nullptr;
    return Json::parse(text, nullptr, false);
}

Json TextOrNull(const std::string& text) {
    return text.empty() ? Json(nullptr) : Json(text);
}

// The four firmware numbers as inspect --json gives them, from the catalogue's "2.1.0.37".
Json FirmwareNumbers(const std::string& text) {
    if (text.empty()) return nullptr;
    Json numbers = Json::array();
    unsigned long value = 0;
    for (char c : text + ".") {
        if (c == '.') {
            numbers.push_back(value);
            value = 0;
        } else {
            value = value * 10 + static_cast<unsigned long>(c - '0');
        }
    }
    return numbers;
}

// Reports and diffs are kept as they were made at intake. One kept in an older layout (by a
// trawler-desk from before a format change) is made again from the stored files, so the API
// always answers in the layout inspect --json and diff --json print today.
Json CurrentReport(const PackageRecord& r, const Store& store) {
    Json j = Parsed(r.report);
    if (j.is_object() && j.value("format", 0) == kInspectJsonFormat) return j;
    PackageReport report;
    StoredCopy copy;
    std::string error;
    if (!store.Fetch(r.sha256, &copy, &error)) return nullptr;
    ReadPackage(copy.Path(), &report);
    return Json::parse(FormatReportJson(report, Store::RelativePathOf(r.sha256)), nullptr, false);
}

Json CurrentDiff(const PackageRecord& r, const Store& store) {
    if (r.previous.empty()) return nullptr;
    Json j = Parsed(r.diff);
    if (j.is_object() && j.value("format", 0) == kDiffJsonFormat) return j;
    PackageDiff diff;
    std::string which, error;
    StoredCopy before, after;
    if (!store.Fetch(r.previous, &before, &error) || !store.Fetch(r.sha256, &after, &error) ||
        !DiffPackages(before.Path(), after.Path(), &diff, &which)) {
        return nullptr;
    }
    return Json::parse(
        FormatDiffJson(diff, Store::RelativePathOf(r.previous), Store::RelativePathOf(r.sha256)),
        nullptr, false);
}

// The whole report, as inspect --json prints it, and what the desk adds.
Json PackageObject(const PackageRecord& r, const Store& store) {
    Json j = CurrentReport(r, store);
    j["received"] = r.received;
    j["ticket"] = TextOrNull(r.ticket);
    j["technician"] = TextOrNull(r.technician);
    return j;
}

// A recording, in a list and on its own: what the desk knows of it and what its replay showed.
Json RecordingObject(const PackageRecord& r) {
    Json j;
    j["kind"] = r.kind;
    j["sha256"] = r.sha256;
    j["recording_size"] = r.size;
    j["received"] = r.received;
    j["unit_number"] = r.unitNumber;
    j["clock"] = TextOrNull(r.clock);
    j["created"] = r.collected;
    j["replay"] = Parsed(r.summary);
    j["ticket"] = TextOrNull(r.ticket);
    j["technician"] = TextOrNull(r.technician);
    return j;
}

// A package in a list: the catalogue's fields, each named and written as inspect --json
// names and writes it.
Json SummaryObject(const PackageRecord& r, const Store& store) {
    if (r.kind == kKindRecording) return RecordingObject(r);
    Json j;
    j["kind"] = r.kind;
    j["sha256"] = r.sha256;
    j["package_size"] = r.size;
    j["received"] = r.received;
    j["valid"] = r.verdict == "valid";
    j["error"] =
        r.verdict == "valid" ? Json(nullptr) : Json{{"kind", r.errorKind}, {"message", r.message}};
    j["unit_number"] = r.hasUnit ? Json(r.unitNumber) : Json(nullptr);
    j["firmware_version"] = FirmwareNumbers(r.firmware);
    j["clock"] = TextOrNull(r.clock);
    j["created"] = TextOrNull(r.collected);
    // The texts as the report has them: null for a text the package lacks, not "".
    const Json report = CurrentReport(r, store);
    j["texts"] = report.is_object() && report.contains("texts") ? report["texts"] : Json(nullptr);
    j["log_length"] = r.logLength >= 0 ? Json(r.logLength) : Json(nullptr);
    j["ticket"] = TextOrNull(r.ticket);
    j["technician"] = TextOrNull(r.technician);
    return j;
}

bool ParseWhole(const std::string& text, int64_t* value) {
    if (text.empty() || text.size() > 12) return false;
    int64_t v = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
        v = v * 10 + (c - '0');
    }
    *value = v;
    return true;
}

// A count of bytes; one too large for 64 bits comes out as the largest.
bool ParseCount(const std::string& text, uint64_t* value) {
    if (text.empty()) return false;
    uint64_t v = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
        const uint64_t digit = static_cast<uint64_t>(c - '0');
        v = v > (UINT64_MAX - digit) / 10 ? UINT64_MAX : v * 10 + digit;
    }
    *value = v;
    return true;
}

// What a token without the field-texts right gets in place of a customer, comment or PC text;
// a text the package lacks stays null, so the answer keeps its shape either way.
constexpr char kHidden[] = "hidden";
constexpr const char* kFieldTextNames[] = {"customer", "comment", "pc"};

bool IsFieldTextName(const Json& name) {
    return name.is_string() && std::any_of(std::begin(kFieldTextNames), std::end(kFieldTextNames),
                                           [&name](const char* n) { return name == n; });
}

Json HiddenText(const Json& text) {
    return text.is_null() ? text : Json(kHidden);
}

// The texts hidden wherever an answer holds them, at any depth: a report's or a summary's
// "texts" object, and a diff's fields named after them (values "a" and "b"). Done on the whole
// answer rather than by each route, so that a route added later cannot forget it.
void HideFieldTexts(Json* j) {
    if (j->is_array()) {
        for (Json& item : *j) HideFieldTexts(&item);
        return;
    }
    if (!j->is_object()) return;
    auto texts = j->find("texts");
    if (texts != j->end() && texts->is_object()) {
        for (const char* name : kFieldTextNames) {
            if (texts->contains(name)) (*texts)[name] = HiddenText((*texts)[name]);
        }
    }
    if (j->contains("name") && IsFieldTextName((*j)["name"])) {
        for (const char* side : {"a", "b"}) {
            if (j->contains(side)) (*j)[side] = HiddenText((*j)[side]);
        }
    }
    for (auto& [key, value] : j->items()) {
        if (key != "texts") HideFieldTexts(&value);
    }
}

class Routes {
  public:
    explicit Routes(const DeskContext& context) : m_context(context) {}

    void Health(const httplib::Request&, httplib::Response& res) {
        std::unique_ptr<Catalogue> catalogue;
        std::string error;
        if (!Connect(&catalogue, &error)) {
            Refuse(res, 500, error);
            return;
        }
        Answer(res, 200, Json{{"status", "ok"}, {"catalogue_version", kCatalogueVersion}});
    }

    void Put(const httplib::Request& req, httplib::Response& res,
             const httplib::ContentReader& reader, IntakeKind kind) {
        const std::string sha256 = req.matches[1];
        std::unique_ptr<Catalogue> catalogue;
        TokenEntry token;
        if (!Authorise(req, res, TokenRole::kUpload, &catalogue, &token)) {
            DropBody(reader);
            return;
        }
        // Not held through a long upload: the intake opens its own.
        catalogue.reset();
        if (!IsSha256Text(sha256)) {
            Refuse(res, 400,
                   "the URL must name the package's SHA-256 as 64 lower-case hex "
                   "digits, not \"" +
                       sha256 + "\"");
            DropBody(reader);
            return;
        }
        if (DeclaredTooLarge(req, res)) return;
        IntakeFields fields{req.get_param_value("ticket"), req.get_param_value("technician")};
        std::string error;
        std::unique_ptr<Upload> upload = m_context.intake->Begin(fields, &error, kind);
        if (!upload) {
            Refuse(res, 500, error);
            return;
        }
        // Past the cap the body is read on and dropped for a while, so that a client still
        // sending reads the 413 instead of a reset connection; a far larger one is cut off.
        bool stopped = false;
        uint64_t dropped = 0;
        bool whole = reader([&](const char* data, size_t size) {
            if (!stopped) stopped = !upload->Write(reinterpret_cast<const uint8_t*>(data), size);
            if (stopped) dropped += size;
            return !stopped || dropped <= kDrainAfterCap;
        });
        if (!whole && dropped == 0) {
            Refuse(res, 400, "the body ended before its declared length");
            return;
        }
        AnswerIntake(upload->Finish(sha256), token, res);
    }

    // The intake's result as the answer to the PUT.
    void AnswerIntake(const IntakeResult& result, const TokenEntry& token,
                      httplib::Response& res) const {
        // A desk that keeps redacted packages only names the bytes it was sent too, so that
        // the sender can tell the answer is for its package.
        const auto kept = [this, &result] {
            if (result.record.kind == kKindRecording) return RecordingObject(result.record);
            Json j = PackageObject(result.record, *m_context.store);
            if (!result.receivedSha256.empty()) j["received_sha256"] = result.receivedSha256;
            return j;
        };
        switch (result.status) {
            case IntakeStatus::kAdded:
                AnswerFor(token, res, 201, kept());
                break;
            case IntakeStatus::kAlready:
                AnswerFor(token, res, 200, kept());
                break;
            case IntakeStatus::kNotRecording:
                Refuse(res, 422, result.message);
                break;
            case IntakeStatus::kMismatch:
            case IntakeStatus::kNotRedacted:
                Refuse(res, 400, result.message);
                break;
            case IntakeStatus::kNotPackage:
                Refuse(res, 415, result.message);
                break;
            case IntakeStatus::kTooLarge:
                Refuse(res, 413, result.message);
                break;
            case IntakeStatus::kUnreadable:
            case IntakeStatus::kFailed:
                Refuse(res, 500, result.message);
                break;
        }
    }

    // A body refused before it was read is read on and dropped, up to the same bound as past
    // the cap: a client that sends without asking first (WinHTTP and cpp-httplib do not send
    // "Expect: 100-continue") then reads the refusal instead of a reset connection, which it
    // would take for a network fault and retry.
    static void DropBody(const httplib::ContentReader& reader) {
        uint64_t dropped = 0;
        reader([&dropped](const char*, size_t size) {
            dropped += size;
            return dropped <= kDrainAfterCap;
        });
    }

    // A body declared larger than the cap is refused before a byte of it is read (also as
    // the answer to "Expect: 100-continue", so a client that asks never sends it).
    bool DeclaredTooLarge(const httplib::Request& req, httplib::Response& res) {
        const std::string length = req.get_header_value("Content-Length");
        uint64_t declared = 0;
        if (!ParseCount(length, &declared) || declared <= m_context.intake->MaxBytes()) {
            return false;
        }
        res.set_header("Connection", "close");
        Refuse(res, 413,
               "the package is larger than this desk's limit of " +
                   std::to_string(m_context.intake->MaxBytes()) +
                   " bytes (--max-package): Content-Length is " + length);
        return true;
    }

    int ExpectContinue(const httplib::Request& req, httplib::Response& res) {
        return DeclaredTooLarge(req, res) ? 413 : 100;
    }

    void Search(const httplib::Request& req, httplib::Response& res) {
        std::unique_ptr<Catalogue> catalogue;
        TokenEntry token;
        if (!Authorise(req, res, TokenRole::kViewer, &catalogue, &token)) return;
        SearchQuery query;
        int64_t number = 0;
        if (req.has_param("unit")) {
            if (!ParseWhole(req.get_param_value("unit"), &number)) {
                Refuse(res, 400,
                       "unit must be a unit number, not \"" + req.get_param_value("unit") + "\"");
                return;
            }
            query.unit = number;
        }
        if (req.has_param("page")) {
            if (!ParseWhole(req.get_param_value("page"), &query.page) || query.page < 1) {
                Refuse(res, 400,
                       "page must be a number from 1, not \"" + req.get_param_value("page") + "\"");
                return;
            }
        }
        query.firmware = req.get_param_value("firmware");
        query.text = req.get_param_value("text");
        // Which packages match a text would tell the text, a letter at a time.
        if (!query.text.empty() &&
            !NeedFieldTexts(token, "searching by customer or comment text", res)) {
            return;
        }
        query.verdict = req.get_param_value("verdict");
        if (!query.verdict.empty() && query.verdict != "valid" && query.verdict != "damaged") {
            Refuse(res, 400, "verdict must be valid or damaged, not \"" + query.verdict + "\"");
            return;
        }
        for (auto [name, bound, end] : {std::make_tuple("from", &query.from, false),
                                        std::make_tuple("to", &query.to, true)}) {
            const std::string text = req.get_param_value(name);
            if (!text.empty() && !ParseUtcBound(text, end, bound)) {
                Refuse(res, 400,
                       std::string(name) + " must be a UTC date (2026-12-07) or time " +
                           "(2026-12-07T13:38:00Z), not \"" + text + "\"");
                return;
            }
        }
        std::vector<PackageRecord> page;
        int64_t total = 0;
        if (!catalogue->Search(query, &page, &total)) {
            Refuse(res, 500, "cannot search the catalogue: " + catalogue->Error());
            return;
        }
        Json packages = Json::array();
        for (const PackageRecord& r : page) packages.push_back(SummaryObject(r, *m_context.store));
        AnswerFor(token, res, 200,
                  Json{{"page", query.page},
                       {"page_size", kSearchPageSize},
                       {"total", total},
                       {"packages", packages}});
    }

    void Package(const httplib::Request& req, httplib::Response& res) {
        std::unique_ptr<Catalogue> catalogue;
        PackageRecord record;
        TokenEntry token;
        if (!Authorise(req, res, TokenRole::kViewer, &catalogue, &token) ||
            !FindPackage(*catalogue, req.matches[1], "", res, &record) ||
            !Audit(*catalogue, req, token, "read-report", record.sha256, res)) {
            return;
        }
        AnswerFor(token, res, 200, PackageObject(record, *m_context.store));
    }

    void Recording(const httplib::Request& req, httplib::Response& res) {
        std::unique_ptr<Catalogue> catalogue;
        PackageRecord record;
        TokenEntry token;
        if (!Authorise(req, res, TokenRole::kViewer, &catalogue, &token) ||
            !FindRecording(*catalogue, req.matches[1], res, &record) ||
            !Audit(*catalogue, req, token, "read-report", record.sha256, res)) {
            return;
        }
        AnswerFor(token, res, 200, RecordingObject(record));
    }

    void PackageOriginal(const httplib::Request& req, httplib::Response& res) {
        Original(req, res, IntakeKind::kPackage);
    }

    void RecordingOriginal(const httplib::Request& req, httplib::Response& res) {
        Original(req, res, IntakeKind::kRecording);
    }

    void PutPackage(const httplib::Request& req, httplib::Response& res,
                    const httplib::ContentReader& reader) {
        Put(req, res, reader, IntakeKind::kPackage);
    }

    void PutRecording(const httplib::Request& req, httplib::Response& res,
                      const httplib::ContentReader& reader) {
        Put(req, res, reader, IntakeKind::kRecording);
    }

    // The original holds the texts as the technician typed them (a recording, the printer's
    // names and the texts the run sent), so it needs their right.
    void Original(const httplib::Request& req, httplib::Response& res, IntakeKind kind) {
        std::unique_ptr<Catalogue> catalogue;
        PackageRecord record;
        TokenEntry token;
        const bool recording = kind == IntakeKind::kRecording;
        if (!Authorise(req, res, TokenRole::kViewer, &catalogue, &token) ||
            !NeedFieldTexts(
                token,
                recording ? "downloading an original recording" : "downloading an original package",
                res) ||
            !(recording ? FindRecording(*catalogue, req.matches[1], res, &record)
                        : FindPackage(*catalogue, req.matches[1], "", res, &record)) ||
            !Audit(*catalogue, req, token, "download-original", record.sha256, res)) {
            return;
        }
        // Streamed from the file (or the object store's copy of it, which goes with the
        // response) as the client takes it, never read whole.
        auto copy = std::make_shared<StoredCopy>();
        std::string error;
        if (!m_context.store->Fetch(record.sha256, copy.get(), &error)) {
            Refuse(res, 500,
                   "cannot open the stored file of package " + record.sha256 + ": " + error);
            return;
        }
        std::shared_ptr<std::FILE> file(std::fopen(copy->Path().c_str(), "rb"),
                                        [copy](std::FILE* f) {
                                            if (f != nullptr) std::fclose(f);
                                        });
        if (!file) {
            Refuse(res, 500, "cannot open the stored file of package " + record.sha256);
            return;
        }
        res.status = 200;
        res.set_header("Content-Disposition", "attachment; filename=\"" + record.sha256 +
                                                  (recording ? ".ztr" : ".zlg") + "\"");
        res.set_content_provider(
            static_cast<size_t>(record.size), "application/octet-stream",
            [file](size_t offset, size_t length, httplib::DataSink& sink) {
                char block[1 << 16];
                if (std::fseek(file.get(), static_cast<long>(offset), SEEK_SET) != 0) return false;
                size_t n = std::fread(block, 1, std::min(length, sizeof block), file.get());
                return n > 0 && sink.write(block, n);
            });
    }

    void History(const httplib::Request& req, httplib::Response& res) {
        std::unique_ptr<Catalogue> catalogue;
        TokenEntry token;
        if (!Authorise(req, res, TokenRole::kViewer, &catalogue, &token)) return;
        int64_t unit = 0;
        const std::string text = req.matches[1];
        if (!ParseWhole(text, &unit)) {
            Refuse(res, 400, "the URL must name a unit number, not \"" + text + "\"");
            return;
        }
        std::vector<PackageRecord> visits;
        if (!catalogue->History(unit, &visits)) {
            Refuse(res, 500, "cannot read the catalogue: " + catalogue->Error());
            return;
        }
        if (visits.empty()) {
            Refuse(res, 404, "no package of unit " + text + " is catalogued");
            return;
        }
        Json list = Json::array();
        for (const PackageRecord& r : visits) {
            Json visit = SummaryObject(r, *m_context.store);
            if (r.kind == kKindPackage) {
                visit["previous"] = TextOrNull(r.previous);
                visit["diff"] = CurrentDiff(r, *m_context.store);
            }
            list.push_back(visit);
        }
        AnswerFor(token, res, 200, Json{{"unit_number", unit}, {"visits", list}});
    }

    void Diff(const httplib::Request& req, httplib::Response& res) {
        std::unique_ptr<Catalogue> catalogue;
        PackageRecord a, b;
        TokenEntry token;
        if (!Authorise(req, res, TokenRole::kViewer, &catalogue, &token) ||
            !FindPackage(*catalogue, req.get_param_value("a"), "a", res, &a) ||
            !FindPackage(*catalogue, req.get_param_value("b"), "b", res, &b)) {
            return;
        }
        PackageDiff diff;
        std::string which, error;
        StoredCopy copyA, copyB;
        if (!m_context.store->Fetch(a.sha256, &copyA, &error) ||
            !m_context.store->Fetch(b.sha256, &copyB, &error)) {
            Refuse(res, 500, error);
            return;
        }
        if (!DiffPackages(copyA.Path(), copyB.Path(), &diff, &which)) {
            const PackageReport& side = which == "A" ? diff.a : diff.b;
            Refuse(res, 409,
                   "package " + std::string(which == "A" ? "a" : "b") + " (" +
                       (which == "A" ? a.sha256 : b.sha256) + ") cannot be compared: " +
                       side.error.message + " [" + side.error.kind + "]");
            return;
        }
        AnswerFor(token, res, 200,
                  Json::parse(FormatDiffJson(diff, Store::RelativePathOf(a.sha256),
                                             Store::RelativePathOf(b.sha256))));
    }

    // A page of the audit log, for admin tokens only; as trawler-desk audit pages it.
    void AuditLog(const httplib::Request& req, httplib::Response& res) {
        std::unique_ptr<Catalogue> catalogue;
        if (!Authorise(req, res, TokenRole::kAdmin, &catalogue)) return;
        AuditQuery query;
        const std::string since = req.get_param_value("since");
        if (!since.empty() && !ParseUtcBound(since, false, &query.since)) {
            Refuse(res, 400,
                   "since must be a UTC date (2026-12-07) or time (2026-12-07T13:38:00Z), not \"" +
                       since + "\"");
            return;
        }
        for (auto [name, value, least] : {std::make_tuple("after", &query.after, int64_t{0}),
                                          std::make_tuple("limit", &query.limit, int64_t{1})}) {
            const std::string text = req.get_param_value(name);
            if (!text.empty() && (!ParseWhole(text, value) || *value < least ||
                                  (*value > kAuditPageMax && value == &query.limit))) {
                Refuse(res, 400,
                       std::string(name) + " must be a number from " + std::to_string(least) +
                           (value == &query.limit ? " to " + std::to_string(kAuditPageMax) : "") +
                           ", not \"" + text + "\"");
                return;
            }
        }
        std::vector<AuditEntry> entries;
        if (!catalogue->ReadAudit(query, &entries)) {
            Refuse(res, 500, "cannot read the audit log: " + catalogue->Error());
            return;
        }
        Json list = Json::array();
        for (const AuditEntry& e : entries) {
            list.push_back(Json{{"id", e.id},
                                {"at", e.at},
                                {"who", e.who},
                                {"action", e.action},
                                {"subject", e.subject},
                                {"address", e.address}});
        }
        const bool full = static_cast<int64_t>(entries.size()) == query.limit;
        Answer(res, 200,
               Json{{"entries", list}, {"next_after", full ? Json(entries.back().id) : Json()}});
    }

    void NotFound(const httplib::Request& req, httplib::Response& res) {
        Refuse(res, 404, "no such resource: " + req.method + " " + req.path);
    }

  private:
    static constexpr int64_t kAuditPageMax = 1000;

    // Answers with the field texts hidden unless the token may see them.
    static void AnswerFor(const TokenEntry& token, httplib::Response& res, int status, Json body) {
        if (!SeesFieldTexts(token)) HideFieldTexts(&body);
        Answer(res, status, body);
    }

    static bool NeedFieldTexts(const TokenEntry& token, const std::string& what,
                               httplib::Response& res) {
        if (SeesFieldTexts(token)) return true;
        Refuse(res, 403,
               what + " needs the field-texts right, which the token " + token.name +
                   " does not have (trawler-desk token add --field-texts)");
        return false;
    }

    // Where the request came from: its connection's address, or, behind a proxy the desk was
    // told to trust, the last address in X-Forwarded-For (the one that proxy added; those
    // before it are whatever the client claimed).
    std::string Address(const httplib::Request& req) const {
        const std::string forwarded = req.get_header_value("X-Forwarded-For");
        if (!m_context.trustProxy || forwarded.empty()) return req.remote_addr;
        const size_t comma = forwarded.rfind(',');
        std::string last = comma == std::string::npos ? forwarded : forwarded.substr(comma + 1);
        last.erase(0, last.find_first_not_of(" \t"));
        last.erase(last.find_last_not_of(" \t") + 1);
        return last.empty() ? req.remote_addr : last;
    }

    // Writes the audit entry before anything is answered: a read that cannot be logged is
    // refused.
    bool Audit(Catalogue& catalogue, const httplib::Request& req, const TokenEntry& token,
               const std::string& action, const std::string& subject, httplib::Response& res) {
        if (catalogue.AddAudit(
                AuditEntry{0, UtcNow(), token.name, action, subject, Address(req)})) {
            return true;
        }
        Refuse(res, 500, "cannot write the audit log: " + catalogue.Error());
        return false;
    }

    bool Connect(std::unique_ptr<Catalogue>* catalogue, std::string* error) {
        bool created = false;
        *catalogue = OpenCatalogue(m_context.catalogue, &created, error);
        return *catalogue != nullptr;
    }

    // Whether the request's token carries the right; answers 401 or 403 when not. An upload
    // token may only send packages; a viewer may read; an admin may do both.
    bool Authorise(const httplib::Request& req, httplib::Response& res, TokenRole needed,
                   std::unique_ptr<Catalogue>* catalogue, TokenEntry* entry = nullptr) {
        std::string error;
        if (!Connect(catalogue, &error)) {
            Refuse(res, 500, error);
            return false;
        }
        const std::string header = req.get_header_value("Authorization");
        const std::string scheme = "Bearer ";
        if (header.compare(0, scheme.size(), scheme) != 0 || header.size() == scheme.size()) {
            res.set_header("WWW-Authenticate", "Bearer");
            Refuse(res, 401, "this needs a token: Authorization: Bearer TOKEN");
            return false;
        }
        const TokenEntry token = (*catalogue)->TokenOfHash(HashToken(header.substr(scheme.size())));
        const TokenRole role = token.role;
        if (entry != nullptr) *entry = token;
        if (role == TokenRole::kNone) {
            res.set_header("WWW-Authenticate", "Bearer error=\"invalid_token\"");
            Refuse(res, 401, "the token is not valid (unknown or revoked)");
            return false;
        }
        if (role != TokenRole::kAdmin && role != needed) {
            Refuse(res, 403,
                   std::string("a token of role ") + RoleName(role) +
                       " may not do this; it needs role " +
                       (needed == TokenRole::kAdmin ? "admin"
                                                    : RoleName(needed) + std::string(" or admin")));
            return false;
        }
        return true;
    }

    bool FindPackage(Catalogue& catalogue, const std::string& sha256, const std::string& name,
                     httplib::Response& res, PackageRecord* record) {
        const std::string what = name.empty() ? "the URL" : name;
        if (!IsSha256Text(sha256)) {
            Refuse(res, 400,
                   what + " must name a package by its SHA-256 (64 lower-case hex " +
                       "digits), not \"" + sha256 + "\"");
            return false;
        }
        int found = catalogue.Find(sha256, record);
        if (found < 0) Refuse(res, 500, "cannot read the catalogue: " + catalogue.Error());
        if (found > 0 && record->kind != kKindPackage) {
            Refuse(res, 404,
                   (name.empty() ? "" : name + ": ") + sha256 +
                       " is a recording, not a package: GET /api/v1/recordings/" + sha256);
            return false;
        }
        if (found == 0) {
            Refuse(res, 404,
                   (name.empty() ? "" : name + ": ") + "no package " + sha256 + " is catalogued");
        }
        return found > 0;
    }

    bool FindRecording(Catalogue& catalogue, const std::string& sha256, httplib::Response& res,
                       PackageRecord* record) {
        if (!IsSha256Text(sha256)) {
            Refuse(res, 400,
                   "the URL must name a recording by its SHA-256 (64 lower-case hex digits), "
                   "not \"" +
                       sha256 + "\"");
            return false;
        }
        const int found = catalogue.Find(sha256, record);
        if (found < 0) Refuse(res, 500, "cannot read the catalogue: " + catalogue.Error());
        if (found == 0 || (found > 0 && record->kind != kKindRecording)) {
            Refuse(res, 404, "no recording " + sha256 + " is catalogued");
        }
        return found > 0 && record->kind == kKindRecording;
    }

    DeskContext m_context;
};

using GetHandler = void (Routes::*)(const httplib::Request&, httplib::Response&);
using BodyHandler = void (Routes::*)(const httplib::Request&, httplib::Response&,
                                     const httplib::ContentReader&);

struct RouteEntry {
    DeskRoute route;
    GetHandler get;    // for GET
    BodyHandler body;  // for PUT, read as a stream
};

// Every route of the API, here only: the server takes its routes from this table and the tests
// walk it.
const RouteEntry kRouteTable[] = {
    {{"GET", "health", ""}, &Routes::Health, nullptr},
    {{"PUT", "packages/{sha256}", ""}, nullptr, &Routes::PutPackage},
    {{"GET", "packages", ""}, &Routes::Search, nullptr},
    {{"GET", "packages/{sha256}", ""}, &Routes::Package, nullptr},
    {{"GET", "packages/{sha256}/original", ""}, &Routes::PackageOriginal, nullptr},
    {{"PUT", "recordings/{sha256}", ""}, nullptr, &Routes::PutRecording},
    {{"GET", "recordings/{sha256}", ""}, &Routes::Recording, nullptr},
    {{"GET", "recordings/{sha256}/original", ""}, &Routes::RecordingOriginal, nullptr},
    {{"GET", "units/{unit}/history", ""}, &Routes::History, nullptr},
    {{"GET", "diff", "a={sha256}&b={sha256}"}, &Routes::Diff, nullptr},
    {{"GET", "audit", ""}, &Routes::AuditLog, nullptr},
};

// The route's path as the server's pattern: each {name} a part of the URL up to the next "/".
std::string RoutePattern(const std::string& path) {
    std::string pattern = kPrefix;
    for (size_t i = 0; i < path.size(); ++i) {
        const size_t close = path[i] == '{' ? path.find('}', i) : std::string::npos;
        if (close == std::string::npos) {
            pattern += path[i];
        } else {
            pattern += "([^/]+)";
            i = close;
        }
    }
    return pattern;
}

}  // namespace

std::vector<DeskRoute> DeskRoutes() {
    std::vector<DeskRoute> routes;
    for (const RouteEntry& entry : kRouteTable) routes.push_back(entry.route);
    return routes;
}

void AddDeskRoutes(httplib::Server& server, const DeskContext& context) {
    auto routes = std::make_shared<Routes>(context);
    for (const RouteEntry& entry : kRouteTable) {
        const std::string pattern = RoutePattern(entry.route.path);
        if (entry.get != nullptr) {
            server.Get(pattern, [routes, get = entry.get](const httplib::Request& req,
                                                          httplib::Response& res) {
                ((*routes).*get)(req, res);
            });
        } else {
            server.Put(pattern, [routes, body = entry.body](const httplib::Request& req,
                                                            httplib::Response& res,
                                                            const httplib::ContentReader& reader) {
                ((*routes).*body)(req, res, reader);
            });
        }
    }
    // A body sent anywhere else is refused unread: without a route that takes it as a stream,
    // the library would read it whole into memory before answering 404.
    const auto unread = [routes](const httplib::Request& req, httplib::Response& res,
                                 const httplib::ContentReader&) { routes->NotFound(req, res); };
    server.Put(".*", unread);
    server.Post(".*", unread);
    server.Patch(".*", unread);
    server.Delete(".*", unread);
    server.set_payload_max_length(static_cast<size_t>(context.intake->MaxBytes()));
    AddWebPage(server);
    // One request per connection: a refused body that was not read must not be taken for the
    // next request, and the library closes a connection only at the end of its keep-alive.
    server.set_keep_alive_max_count(1);
    server.set_expect_100_continue_handler(
        [routes](const httplib::Request& req, httplib::Response& res) {
            return routes->ExpectContinue(req, res);
        });
    // Whatever no route answered (a wrong path or method) gets a JSON error too.
    httplib::Server::HandlerWithResponse errors = [routes](const httplib::Request& req,
                                                           httplib::Response& res) {
        if (res.body.empty() && res.status == 404) {
            routes->NotFound(req, res);
        } else if (res.body.empty()) {
            Refuse(res, res.status,
                   "the request could not be handled (HTTP " + std::to_string(res.status) + ")");
        }
        return httplib::Server::HandlerResponse::Handled;
    };
    server.set_error_handler(errors);
}

}  // namespace trawler::desk
