// Intake: a package's bytes in, a catalogued file in the store out. Used by PUT and by import,
// so that both keep, refuse and catalogue packages by the same rules.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "desk/catalogue.h"
#include "desk/store.h"
#include "platform/sha256.h"

namespace trawler {
class RedactionKey;
}

namespace trawler::desk {

constexpr uint64_t kDefaultMaxPackage = uint64_t{256} << 20;

enum class IntakeStatus {
    kAdded,        // new: kept and catalogued (valid or damaged)
    kAlready,      // the same bytes were catalogued before; nothing new kept
    kMismatch,     // the bytes' SHA-256 is not the one named
    kNotPackage,   // the bytes do not begin with the package magic
    kTooLarge,     // more bytes than the cap; nothing kept
    kNotRedacted,  // a desk that keeps redacted packages only cannot redact this one (damaged)
    kUnreadable,   // the file to import cannot be read
    kFailed,       // the desk's own fault (disk, catalogue)
    // A recording was named, but the bytes are none or do not replay; nothing kept.
    kNotRecording,
};

struct IntakeResult {
    IntakeStatus status = IntakeStatus::kFailed;
    std::string message;   // what was wrong, for every status but kAdded and kAlready
    PackageRecord record;  // kAdded and kAlready
    // The SHA-256 of the bytes received, when what was kept is their redacted form (whose
    // SHA-256 is the record's); empty otherwise.
    std::string receivedSha256;
};

// What the sender says about a package.
struct IntakeFields {
    std::string ticket;
    std::string technician;
};

// What an upload says it is: a package (".zlg") or a recording of a run (".ztr").
enum class IntakeKind { kPackage, kRecording };

class Intake;

// One package arriving: bytes in as they come, hashed as they are written to a temporary file.
class Upload {
  public:
    // False once the upload cannot succeed (over the cap, disk full): stop sending bytes.
    bool Write(const uint8_t* data, size_t size);
    // Ends the upload. expectedSha256 empty: no digest was named.
    IntakeResult Finish(const std::string& expectedSha256);

  private:
    friend class Intake;
    explicit Upload(Intake& intake) : m_intake(intake) {}

    Intake& m_intake;
    IntakeFields m_fields;
    IntakeKind m_kind = IntakeKind::kPackage;
    TempFile m_file;
    Sha256 m_hash;
    uint64_t m_size = 0;
    std::string m_head;  // the first bytes, for the magic
    bool m_tooLarge = false;
    bool m_writeFailed = false;
};

class Intake {
  public:
    // The catalogue (a file's path or a PostgreSQL URL) is opened for each intake, so uploads
    // on many threads each have their own connection and transaction.
    Intake(std::string catalogue, Store& store, uint64_t maxBytes)
        : m_catalogue(std::move(catalogue)), m_store(store), m_maxBytes(maxBytes) {}

    // Null with *error when no temporary file can be made.
    std::unique_ptr<Upload> Begin(const IntakeFields& fields, std::string* error,
                                  IntakeKind kind = IntakeKind::kPackage);
    // A file from a folder, as import takes it.
    IntakeResult AddFile(const std::string& path, const IntakeFields& fields);

    uint64_t MaxBytes() const { return m_maxBytes; }

    // From now on every package is kept only in its form redacted with the key (which must
    // outlive the intake), never as received.
    void RedactWith(const RedactionKey* key) { m_redactionKey = key; }

  private:
    friend class Upload;
    IntakeResult Keep(TempFile* file, const std::string& sha256, uint64_t size,
                      const IntakeFields& fields);
    IntakeResult KeepRecording(TempFile* file, const std::string& sha256, uint64_t size,
                               const IntakeFields& fields);
    IntakeResult KeepRedacted(TempFile* received, const std::string& receivedSha256,
                              const IntakeFields& fields);

    std::string m_catalogue;
    Store& m_store;
    uint64_t m_maxBytes;
    const RedactionKey* m_redactionKey = nullptr;
};

}  // namespace trawler::desk
