// Redaction's common parts: the key, the placeholders it makes, and outputs that appear whole or
// not at all.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace trawler {

// A key file holds the key as 64 hexadecimal digits, optionally followed by a line end.
constexpr size_t kRedactionKeyBytes = 32;
// Hex digits of the keyed digest in a placeholder: 48 bits, so that even a desk that has seen a
// hundred thousand different customers is unlikely to have two behind one placeholder.
constexpr size_t kPlaceholderDigits = 12;

class RedactionKey {
  public:
    // False, with *error naming what is wrong, when the file cannot be read or is not a key.
    bool Load(const std::string& path, std::string* error);
    // A new key from the system's generator.
    bool Generate(std::string* error);
    // Writes the key to a new file (never over an existing one), readable by its owner only
    // where the system allows it.
    bool WriteNew(const std::string& path, std::string* error) const;

    // The first kPlaceholderDigits lower-case hex digits of HMAC-SHA-256(key, text).
    std::string Digest(const std::string& text) const;

  private:
    std::array<uint8_t, kRedactionKeyBytes> m_bytes{};
};

// The placeholders one redaction hands out, with the originals behind them for the mapping
// file. The same text always gets the same placeholder; should two different texts of one
// redaction meet in one placeholder, the redaction is refused rather than merging them.
class PlaceholderBook {
  public:
    explicit PlaceholderBook(const RedactionKey& key) : m_key(key) {}

    // kind + "-" + the digest of hashed (the text whose identity counts: a printer name is
    // hashed case-folded, as the spooler compares names) + suffix. original and shown (UTF-8,
    // for people) go to the mapping file. False on a collision, with *error.
    bool Placeholder(const std::string& kind, const std::string& hashed,
                     const std::string& original, const std::string& shown,
                     std::string* placeholder, std::string* error,
                     const std::string& suffix = std::string());

    // The mapping file: one line per placeholder, in the order first handed out, three fields
    // separated by tabs: placeholder, the original as shown (control characters escaped), the
    // original's bytes in hex.
    std::string MapText() const;

  private:
    struct Entry {
        std::string placeholder;
        std::string hashed;
        std::string original;
        std::string shown;
    };
    const RedactionKey& m_key;
    std::vector<Entry> m_entries;
    std::map<std::string, size_t> m_byPlaceholder;
};

// Files written under temporary names, renamed to their own names only when all of them are
// complete; whatever was written is removed when they are not committed.
class StagedFiles {
  public:
    StagedFiles() = default;
    ~StagedFiles();
    StagedFiles(const StagedFiles&) = delete;
    StagedFiles& operator=(const StagedFiles&) = delete;

    // A temporary name beside path that is free now; the caller creates that file new.
    // False when path itself exists, which a redaction never replaces.
    bool Stage(const std::string& path, std::string* tempPath, std::string* error);
    // Renames every staged file into place, in the order staged, never over an existing file.
    // On failure nothing of them stays.
    bool Commit(std::string* error);
    // Removes every staged file.
    void Discard();

  private:
    std::vector<std::pair<std::string, std::string>> m_files;  // temporary, final
    bool m_committed = false;
};

// Writes text into a new file, readable by its owner only when ownerOnly (as OpenNewPrivateFile);
// false with *error (the file then removed).
bool WriteNewTextFile(const std::string& path, const std::string& text, bool ownerOnly,
                      std::string* error);

}  // namespace trawler
