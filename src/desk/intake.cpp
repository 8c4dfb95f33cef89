// Intake: receive, check, keep, catalogue; the order of these steps is what makes a crash safe.
#include "desk/intake.h"

#include <cerrno>
#include <cstring>
#include <optional>

#include "desk/recording_replay.h"
#include "output/ansi_text.h"
#include "output/container_format.h"
#include "output/package_diff.h"
#include "output/package_reader.h"
#include "output/package_redact.h"
#include "output/package_report.h"
#include "output/redaction.h"
#include "platform/console_host.h"
#include "platform/owned_file.h"
#include "sim/recording_archive.h"

namespace trawler::desk {

namespace {

// The diff from one catalogued visit to another, as diff --json gives it; empty when either
// cannot be read (both were read whole at their intake, so only a damaged disk or an
// unreachable object store does that).
std::string StoredDiff(const Store& store, const std::string& before, const std::string& after) {
    PackageDiff diff;
    std::string which, error;
    StoredCopy a, b;
    if (!store.Fetch(before, &a, &error) || !store.Fetch(after, &b, &error) ||
        !DiffPackages(a.Path(), b.Path(), &diff, &which)) {
        return std::string();
    }
    std::string json =
        FormatDiffJson(diff, Store::RelativePathOf(before), Store::RelativePathOf(after));
    if (!json.empty() && json.back() == '\n') json.pop_back();
    return json;
}

// What the catalogue keeps of a report: the fields searched and listed, and the report itself.
PackageRecord RecordOf(const PackageReport& report, const std::string& sha256, uint64_t size) {
    PackageRecord r;
    r.sha256 = sha256;
    r.size = static_cast<int64_t>(size);
    r.received = UtcNow();
    r.report = FormatReportJson(report, Store::RelativePathOf(sha256));
    if (!r.report.empty() && r.report.back() == '\n') r.report.pop_back();
    if (!report.valid) {
        // A damaged package's fields are what it seemed to hold before the damage, which
        // inspect does not show either; its verdict and message are what the desk knows.
        r.verdict = "damaged";
        r.errorKind = report.error.kind;
        r.message = report.error.message;
        return r;
    }
    r.verdict = "valid";
    r.hasUnit = report.hasUnitNumber;
    r.unitNumber = report.unitNumber;
    if (report.hasVersion) r.firmware = FirmwareText(report);
    if (report.hasClock) r.clock = HexText(report.clock.data(), report.clock.size(), "");
    r.collected = report.created;
    const TextCodePage codePage = PackageCodePage(report);
    if (report.hasCustomer) r.customer = AnsiToUtf8(report.customer, codePage);
    if (report.hasComment) r.comment = AnsiToUtf8(report.comment, codePage);
    if (report.hasPcLine) r.pcLine = AnsiToUtf8(report.pcLine, codePage);
    if (report.hasLog) r.logLength = report.logLength;
    return r;
}

IntakeResult Failed(IntakeStatus status, std::string message) {
    IntakeResult result;
    result.status = status;
    result.message = std::move(message);
    return result;
}

// True when the answer for these bytes is decided by the catalogue: they are catalogued already
// (*answer is that row, kAlready) or it cannot be asked (*answer is the failure).
bool Catalogued(Catalogue& catalogue, const std::string& sha256, IntakeResult* answer) {
    const int found = catalogue.Find(sha256, &answer->record);
    if (found < 0) *answer = Failed(IntakeStatus::kFailed, catalogue.Error());
    if (found > 0) answer->status = IntakeStatus::kAlready;
    return found != 0;
}

// The catalogue to keep new bytes in; null when Catalogued decided the answer, or the catalogue
// cannot be opened (*answer is the failure).
std::unique_ptr<Catalogue> OpenUnlessCatalogued(const std::string& location,
                                                const std::string& sha256, IntakeResult* answer) {
    std::string error;
    bool created = false;
    std::unique_ptr<Catalogue> catalogue = OpenCatalogue(location, &created, &error);
    if (!catalogue) {
        *answer = Failed(IntakeStatus::kFailed, error);
        return nullptr;
    }
    return Catalogued(*catalogue, sha256, answer) ? nullptr : std::move(catalogue);
}

}  // namespace

bool Upload::Write(const uint8_t* data, size_t size) {
    if (m_tooLarge || m_writeFailed) return false;
    if (size > m_intake.MaxBytes() - m_size) {
        m_tooLarge = true;
        return false;
    }
    if (m_head.size() < kMagicSize) {
        m_head.append(reinterpret_cast<const char*>(data),
                      std::min(size, kMagicSize - m_head.size()));
    }
    m_hash.Update(data, size);
    m_size += size;
    if (!m_file.Write(data, size)) {
        m_writeFailed = true;
        return false;
    }
    return true;
}

IntakeResult Upload::Finish(const std::string& expectedSha256) {
    if (m_tooLarge) {
        return Failed(IntakeStatus::kTooLarge, "the package is larger than this desk's limit of " +
                                                   std::to_string(m_intake.MaxBytes()) +
                                                   " bytes (--max-package)");
    }
    if (m_writeFailed) {
        return Failed(IntakeStatus::kFailed,
                      "cannot write " + m_file.Path() + ": " + std::strerror(errno));
    }
    const std::string sha256 = m_hash.FinishHex();
    if (!expectedSha256.empty() && sha256 != expectedSha256) {
        return Failed(IntakeStatus::kMismatch,
                      "the body's SHA-256 is " + sha256 + " but the URL names " + expectedSha256);
    }
    if (m_kind == IntakeKind::kRecording) {
        if (m_head != std::string(kRecordingArchiveMagic, kMagicSize)) {
            return Failed(IntakeStatus::kNotRecording,
                          std::string("not a Trawler recording: it does not begin with \"") +
                              kRecordingArchiveMagic + "\"");
        }
        // A recording holds the printer's names and whatever the run sent, and there is no
        // redacted form of it to keep instead.
        if (m_intake.m_redactionKey != nullptr) {
            return Failed(IntakeStatus::kNotRedacted,
                          "this desk keeps redacted packages only, and a recording cannot be "
                          "redacted");
        }
        if (!m_file.SyncAndClose()) {
            return Failed(IntakeStatus::kFailed,
                          "cannot write " + m_file.Path() + ": " + std::strerror(errno));
        }
        return m_intake.KeepRecording(&m_file, sha256, m_size, m_fields);
    }
    if (m_head != std::string(kPackageMagic, kMagicSize)) {
        return Failed(
            IntakeStatus::kNotPackage,
            std::string("not a Trawler package: it does not begin with \"") + kPackageMagic + "\"");
    }
    if (!m_file.SyncAndClose()) {
        return Failed(IntakeStatus::kFailed,
                      "cannot write " + m_file.Path() + ": " + std::strerror(errno));
    }
    if (m_intake.m_redactionKey != nullptr) return m_intake.KeepRedacted(&m_file, sha256, m_fields);
    return m_intake.Keep(&m_file, sha256, m_size, m_fields);
}

std::unique_ptr<Upload> Intake::Begin(const IntakeFields& fields, std::string* error,
                                      IntakeKind kind) {
    std::unique_ptr<Upload> upload(new Upload(*this));
    upload->m_fields = fields;
    upload->m_kind = kind;
    if (!m_store.CreateTemp(&upload->m_file, error)) return nullptr;
    return upload;
}

IntakeResult Intake::AddFile(const std::string& path, const IntakeFields& fields) {
    OwnedFile in(std::fopen(path.c_str(), "rb"));
    if (!in)
        return Failed(IntakeStatus::kUnreadable,
                      "cannot open: " + std::string(std::strerror(errno)));
    std::string error;
    std::unique_ptr<Upload> upload = Begin(fields, &error);
    if (!upload) return Failed(IntakeStatus::kFailed, error);
    uint8_t block[1 << 16];
    for (size_t n; (n = std::fread(block, 1, sizeof block, in.Get())) > 0;) {
        if (!upload->Write(block, n)) break;
    }
    if (std::ferror(in.Get())) {
        return Failed(IntakeStatus::kUnreadable,
                      "cannot read: " + std::string(std::strerror(errno)));
    }
    return upload->Finish(std::string());
}

// The received file is redacted into a file beside it, which is copied into a temporary file of
// the store's (hashed on the way) and kept like any package. The same bytes redacted with the
// same key give the same bytes, so a retry of one package finds its redacted form catalogued.
// Every file on the way has the upload prefix, so a crash leaves nothing a start does not sweep.
IntakeResult Intake::KeepRedacted(TempFile* received, const std::string& receivedSha256,
                                  const IntakeFields& fields) {
    const std::string redactedPath = received->Path() + ".redacted";
    PlaceholderBook book(*m_redactionKey);
    ConsoleHost host;
    std::string error;
    const RedactOutcome outcome = RedactPackage(host, received->Path(), redactedPath, book, &error);
    if (outcome == RedactOutcome::kDamaged) {
        return Failed(IntakeStatus::kNotRedacted,
                      "this desk keeps redacted packages only, and a damaged package cannot be "
                      "redacted: " +
                          error);
    }
    if (outcome != RedactOutcome::kWritten) {
        return Failed(IntakeStatus::kFailed, "cannot redact the package: " + error);
    }
    OwnedFile in(std::fopen(redactedPath.c_str(), "rb"));
    TempFile redacted;
    Sha256 hash;
    uint64_t size = 0;
    bool copied = in && m_store.CreateTemp(&redacted, &error);
    uint8_t block[1 << 16];
    for (size_t n; copied && (n = std::fread(block, 1, sizeof block, in.Get())) > 0; size += n) {
        hash.Update(block, n);
        copied = redacted.Write(block, n);
    }
    copied = copied && std::ferror(in.Get()) == 0 && redacted.SyncAndClose();
    in.Close();
    std::remove(redactedPath.c_str());
    if (!copied) {
        return Failed(IntakeStatus::kFailed, "cannot keep the redacted package: " +
                                                 (error.empty() ? std::strerror(errno) : error));
    }
    IntakeResult result = Keep(&redacted, hash.FinishHex(), size, fields);
    result.receivedSha256 = receivedSha256;
    return result;
}

// The file is complete and synced when this is called. It is read like inspect reads it, moved
// into the store (synced again with its folder), and only then catalogued, in one transaction
// with the diffs to its neighbours: a crash before the commit leaves at most a file that no
// row names, which the next upload of the same bytes replaces. The move happens while the
// transaction holds the writers' lock, as a purge deletes a file only while holding it: a purge
// of these same bytes cannot remove the file between its move and its row.
IntakeResult Intake::Keep(TempFile* file, const std::string& sha256, uint64_t size,
                          const IntakeFields& fields) {
    std::string error;
    IntakeResult result;
    std::unique_ptr<Catalogue> catalogue = OpenUnlessCatalogued(m_catalogue, sha256, &result);
    if (!catalogue) return result;
    PackageReport report;
    ReadPackage(file->Path(), &report);
    if (VerdictOf(report) == PackageVerdict::kUnreadable || report.sha256 != sha256) {
        return Failed(IntakeStatus::kFailed,
                      "cannot read back the received file: " + report.error.message);
    }
    PackageRecord record = RecordOf(report, sha256, size);
    record.ticket = fields.ticket;
    record.technician = fields.technician;

    WriteTransaction transaction(*catalogue);
    if (!transaction.Begun()) return Failed(IntakeStatus::kFailed, catalogue->Error());
    // Another intake of the same bytes may have committed while this one read the file.
    if (Catalogued(*catalogue, sha256, &result)) return result;
    if (!m_store.Commit(file, sha256, &error)) return Failed(IntakeStatus::kFailed, error);
    std::optional<PackageRecord> before, after;
    if (!catalogue->Neighbours(record, &before, &after)) {
        return Failed(IntakeStatus::kFailed, catalogue->Error());
    }
    if (record.verdict == "valid" && before) {
        record.previous = before->sha256;
        record.diff = StoredDiff(m_store, before->sha256, sha256);
    }
    bool ok = catalogue->Insert(record);
    // A visit that arrives late goes between two others: the later one's diff is now to it.
    if (ok && record.verdict == "valid" && after) {
        ok = catalogue->SetDiff(after->sha256, sha256, StoredDiff(m_store, sha256, after->sha256));
    }
    if (!ok || !transaction.Commit()) {
        return Failed(IntakeStatus::kFailed, "cannot catalogue the package: " + catalogue->Error());
    }
    result.status = IntakeStatus::kAdded;
    result.record = record;
    return result;
}

namespace {

// The program that replays recordings: this trawler-desk itself, as a child it can bound.
constexpr char kReplayProgram[] = "/proc/self/exe";

// A recording's place among the unit's visits. A package's place is the PC's time of the
// collection ("202612071338"); a recording holds no PC time, but the printer's clock begins with
// the same digits (BCD: 20 26 12 07 13 38 ...). A run that stopped before the clock was read
// takes the time the desk received it.
std::string RecordingCollected(const std::string& clock, const std::string& received) {
    std::string fromClock = clock.substr(0, 12);
    if (fromClock.size() == 12 && fromClock.find_first_not_of("0123456789") == std::string::npos) {
        return fromClock;
    }
    std::string digits;
    for (char c : received.substr(0, 16)) {
        if (c >= '0' && c <= '9') digits += c;
    }
    return digits;
}

}  // namespace

// As Keep, for a recording: it is replayed before anything is kept, and catalogued as a visit of
// the unit it read (unit 0 when the run stopped before block 0x8013) with what the replay showed.
IntakeResult Intake::KeepRecording(TempFile* file, const std::string& sha256, uint64_t size,
                                   const IntakeFields& fields) {
    std::string error;
    IntakeResult result;
    std::unique_ptr<Catalogue> catalogue = OpenUnlessCatalogued(m_catalogue, sha256, &result);
    if (!catalogue) return result;
    RecordingSummary summary;
    if (!ReplayRecording(kReplayProgram, file->Path(), &summary, &error)) {
        return Failed(IntakeStatus::kNotRecording, "the recording was refused: " + error);
    }
    PackageRecord record;
    record.kind = kKindRecording;
    record.sha256 = sha256;
    record.size = static_cast<int64_t>(size);
    record.received = UtcNow();
    record.verdict = summary.outcome;
    record.hasUnit = true;
    record.unitNumber = summary.unit.value_or(0);
    record.clock = summary.clock;
    record.collected = RecordingCollected(summary.clock, record.received);
    record.summary = summary.ToJson();
    record.ticket = fields.ticket;
    record.technician = fields.technician;

    WriteTransaction transaction(*catalogue);
    if (!transaction.Begun()) return Failed(IntakeStatus::kFailed, catalogue->Error());
    if (Catalogued(*catalogue, sha256, &result)) return result;
    if (!m_store.Commit(file, sha256, &error)) return Failed(IntakeStatus::kFailed, error);
    if (!catalogue->Insert(record) || !transaction.Commit()) {
        return Failed(IntakeStatus::kFailed,
                      "cannot catalogue the recording: " + catalogue->Error());
    }
    result.status = IntakeStatus::kAdded;
    result.record = record;
    return result;
}

}  // namespace trawler::desk
