// The redaction key, its placeholders, and outputs staged under temporary names.
#include "output/redaction.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "output/package_report.h"
#include "platform/file_ops.h"
#include "platform/hmac_sha256.h"
#include "platform/owned_file.h"
#include "platform/secret.h"

namespace trawler {
namespace {

constexpr char kHexDigits[] = "0123456789abcdef";

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

std::string Hex(const uint8_t* data, size_t size) {
    std::string text;
    text.reserve(size * 2);
    for (size_t i = 0; i < size; ++i) {
        text.push_back(kHexDigits[data[i] >> 4]);
        text.push_back(kHexDigits[data[i] & 0x0F]);
    }
    return text;
}

std::string SystemReason() {
    return errno != 0 ? std::string(": ") + std::strerror(errno) : std::string();
}

}  // namespace

bool RedactionKey::Load(const std::string& path, std::string* error) {
    OwnedFile file(std::fopen(path.c_str(), "rb"));
    if (!file) {
        *error = "cannot read the key " + path + SystemReason();
        return false;
    }
    // Read one byte more than a key file can hold, so that a longer file is told apart.
    char text[kRedactionKeyBytes * 2 + 4];
    size_t got = std::fread(text, 1, sizeof text, file.Get());
    if (std::ferror(file.Get())) {
        *error = "cannot read the key " + path + SystemReason();
        return false;
    }
    size_t end = got;
    if (end > 0 && text[end - 1] == '\n') --end;
    if (end > 0 && text[end - 1] == '\r') --end;
    bool ok = end == kRedactionKeyBytes * 2;
    for (size_t i = 0; ok && i < kRedactionKeyBytes; ++i) {
        int high = HexValue(text[2 * i]);
        int low = HexValue(text[2 * i + 1]);
        ok = high >= 0 && low >= 0;
        if (ok) m_bytes[i] = static_cast<uint8_t>(high << 4 | low);
    }
    if (!ok) {
        *error = "the key " + path + " is not a redaction key (64 hexadecimal digits)";
        m_bytes.fill(0);
    }
    return ok;
}

bool RedactionKey::Generate(std::string* error) {
    if (SecureRandomBytes(m_bytes.data(), m_bytes.size())) return true;
    *error = "the system gave no random bytes for a new key";
    return false;
}

bool RedactionKey::WriteNew(const std::string& path, std::string* error) const {
    OwnedFile file(OpenNewPrivateFile(path));
    if (!file) {
        *error = "cannot create the key " + path + SystemReason();
        return false;
    }
    std::string text = Hex(m_bytes.data(), m_bytes.size()) + "\n";
    bool ok = std::fwrite(text.data(), 1, text.size(), file.Get()) == text.size();
    if (!file.Close()) ok = false;
    if (!ok) {
        *error = "cannot write the key " + path + SystemReason();
        std::remove(path.c_str());
    }
    return ok;
}

std::string RedactionKey::Digest(const std::string& text) const {
    std::array<uint8_t, 32> mac = HmacSha256(
        m_bytes.data(), m_bytes.size(), reinterpret_cast<const uint8_t*>(text.data()), text.size());
    return Hex(mac.data(), mac.size()).substr(0, kPlaceholderDigits);
}

bool PlaceholderBook::Placeholder(const std::string& kind, const std::string& hashed,
                                  const std::string& original, const std::string& shown,
                                  std::string* placeholder, std::string* error,
                                  const std::string& suffix) {
    *placeholder = kind + "-" + m_key.Digest(hashed) + suffix;
    auto found = m_byPlaceholder.find(*placeholder);
    if (found == m_byPlaceholder.end()) {
        m_byPlaceholder.emplace(*placeholder, m_entries.size());
        m_entries.push_back(Entry{*placeholder, hashed, original, shown});
        return true;
    }
    if (m_entries[found->second].hashed == hashed) return true;
    *error =
        "two different texts got the placeholder " + *placeholder + "; redact with another key";
    return false;
}

std::string PlaceholderBook::MapText() const {
    std::string text;
    for (const Entry& e : m_entries) {
        text += e.placeholder + "\t" + EscapeForTerminal(e.shown) + "\t" +
                Hex(reinterpret_cast<const uint8_t*>(e.original.data()), e.original.size()) + "\n";
    }
    return text;
}

StagedFiles::~StagedFiles() {
    if (!m_committed) Discard();
}

bool StagedFiles::Stage(const std::string& path, std::string* tempPath, std::string* error) {
    if (PathExists(path)) {
        *error = path + " exists; redact never replaces a file";
        return false;
    }
    for (int n = 0; n < 1000; ++n) {
        std::string candidate = path + ".redact-" + std::to_string(n) + ".tmp";
        if (PathExists(candidate)) continue;
        m_files.emplace_back(candidate, path);
        *tempPath = candidate;
        return true;
    }
    *error = "no free temporary name beside " + path;
    return false;
}

bool StagedFiles::Commit(std::string* error) {
    for (size_t i = 0; i < m_files.size(); ++i) {
        if (RenameNoReplace(m_files[i].first, m_files[i].second)) continue;
        *error = "cannot move " + m_files[i].first + " to " + m_files[i].second + SystemReason();
        // The ones already in place are this redaction's own: they go with the rest.
        for (size_t j = 0; j < i; ++j) std::remove(m_files[j].second.c_str());
        for (size_t j = i; j < m_files.size(); ++j) std::remove(m_files[j].first.c_str());
        m_files.clear();
        return false;
    }
    m_committed = true;
    return true;
}

void StagedFiles::Discard() {
    for (const auto& file : m_files) std::remove(file.first.c_str());
    m_files.clear();
}

bool WriteNewTextFile(const std::string& path, const std::string& text, bool ownerOnly,
                      std::string* error) {
    OwnedFile file(ownerOnly ? OpenNewPrivateFile(path) : OpenNewFile(path));
    if (!file) {
        *error = "cannot create " + path + SystemReason();
        return false;
    }
    bool ok = std::fwrite(text.data(), 1, text.size(), file.Get()) == text.size();
    if (!file.Close()) ok = false;
    if (!ok) {
        *error = "cannot write " + path + SystemReason();
        std::remove(path.c_str());
    }
    return ok;
}

}  // namespace trawler
