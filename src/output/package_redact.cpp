// Package redaction: the package is checked whole, then read once more while a new container is
// written from its bytes, the three text chunks swapped for placeholder chunks on the way, and
// packed by the package writer. The container's layout (tag, big-endian padded length, content,
// zero padding) is in container_format.h and docs/PACKAGE.md.
#include "output/package_redact.h"

#include <algorithm>
#include <cstdio>
#include <vector>

#include "output/ansi_text.h"
#include "output/container_format.h"
#include "output/log_container.h"
#include "output/package.h"
#include "output/package_reader.h"
#include "output/package_report.h"
#include "platform/big_endian.h"
#include "platform/file_ops.h"
#include "platform/owned_file.h"

namespace trawler {
namespace {

bool IsNumber(const std::string& text) {
    size_t digits = text.size() > 0 && text[0] == '-' ? 1 : 0;
    if (digits == text.size()) return false;
    return std::all_of(text.begin() + static_cast<std::ptrdiff_t>(digits), text.end(),
                       [](char c) { return c >= '0' && c <= '9'; });
}

// One chunk of the original container replaced by another, whole (header included).
struct Replacement {
    uint64_t start = 0;
    uint64_t end = 0;
    std::vector<uint8_t> chunk;
};

std::vector<uint8_t> TextChunk(const std::string& tag, const std::string& text) {
    std::vector<uint8_t> chunk(tag.begin(), tag.end());
    uint32_t padded = PaddedLength(static_cast<uint32_t>(text.size()));
    uint8_t length[kChunkHeaderSize - kTagSize];
    PutBig32(length, padded);
    chunk.insert(chunk.end(), length, length + sizeof length);
    chunk.insert(chunk.end(), text.begin(), text.end());
    chunk.resize(kChunkHeaderSize + padded, 0);
    return chunk;
}

// Copies the container as the reader hands it over, but for the replaced chunks.
class RedactingSink : public PackageSink {
  public:
    RedactingSink(std::FILE* out, const std::vector<Replacement>& replacements)
        : m_out(out), m_replacements(replacements) {}

    bool ContainerBytes(const uint8_t* data, size_t size) override {
        while (size > 0) {
            size_t take;
            if (m_next < m_replacements.size() && m_pos >= m_replacements[m_next].start) {
                const Replacement& r = m_replacements[m_next];
                if (m_pos == r.start && !Write(r.chunk.data(), r.chunk.size())) return false;
                take = static_cast<size_t>(std::min<uint64_t>(size, r.end - m_pos));
                if (m_pos + take == r.end) ++m_next;
            } else {
                uint64_t limit =
                    m_next < m_replacements.size() ? m_replacements[m_next].start : m_pos + size;
                take = static_cast<size_t>(std::min<uint64_t>(size, limit - m_pos));
                if (!Write(data, take)) return false;
            }
            m_pos += take;
            data += take;
            size -= take;
        }
        return true;
    }
    bool BeginChunk(const ChunkEntry&) override { return true; }
    bool ChunkBytes(const uint8_t*, size_t) override { return true; }
    bool EndChunk(const ChunkEntry&, uint32_t) override { return true; }
    std::string Failure() const override { return "cannot write the redacted container"; }

  private:
    bool Write(const uint8_t* data, size_t size) {
        return std::fwrite(data, 1, size, m_out) == size;
    }

    std::FILE* m_out;
    const std::vector<Replacement>& m_replacements;
    size_t m_next = 0;
    uint64_t m_pos = 0;
};

std::string ProblemText(const std::string& path, const PackageReport& report) {
    return path + ": " + report.error.message + " [" + report.error.kind + "]";
}

}  // namespace

bool RedactPcLine(PlaceholderBook& book, const std::string& line, const std::string& shown,
                  std::string* redacted, std::string* error) {
    std::string placeholder;
    if (!book.Placeholder("pc", line, line, shown, &placeholder, error)) return false;
    // "Windows Version=%d.%d, Build Number=%d, (%s), PlatformID=%d", as FormatPcLine writes it.
    // The delimiters searched for are bytes below 0x40, which no double-byte character of code
    // page 932 holds as its second byte, so a cut never falls inside a character.
    const std::string head = "Windows Version=";
    const std::string build = ", Build Number=";
    const std::string open = ", (";
    const std::string close = "), PlatformID=";
    *redacted = placeholder;
    if (line.compare(0, head.size(), head) != 0) return true;
    size_t dot = line.find('.', head.size());
    size_t buildAt = line.find(build, head.size());
    if (dot == std::string::npos || buildAt == std::string::npos || dot > buildAt) return true;
    size_t openAt = line.find(open, buildAt + build.size());
    size_t closeAt = line.rfind(close);
    if (openAt == std::string::npos || closeAt == std::string::npos || closeAt < openAt) {
        return true;
    }
    std::string major = line.substr(head.size(), dot - head.size());
    std::string minor = line.substr(dot + 1, buildAt - dot - 1);
    std::string number = line.substr(buildAt + build.size(), openAt - buildAt - build.size());
    std::string platform = line.substr(closeAt + close.size());
    if (!IsNumber(major) || !IsNumber(minor) || !IsNumber(number) || !IsNumber(platform)) {
        return true;
    }
    *redacted = head + major + "." + minor + build + number + open + placeholder + close + platform;
    return true;
}

namespace {

// The three text chunks of the package, each with the chunk that replaces it.
bool PlanReplacements(const PackageReport& report, PlaceholderBook& book,
                      std::vector<Replacement>* replacements, std::string* error) {
    const TextCodePage codePage = PackageCodePage(report);
    for (const ChunkEntry& chunk : report.chunks) {
        const std::string* text = chunk.tag == kTagCustomer  ? &report.customer
                                  : chunk.tag == kTagComment ? &report.comment
                                  : chunk.tag == kTagPcLine  ? &report.pcLine
                                                             : nullptr;
        if (text == nullptr || text->empty()) continue;
        const std::string shown = AnsiToUtf8(*text, codePage);
        std::string redacted;
        bool ok = chunk.tag == kTagPcLine
                      ? RedactPcLine(book, *text, shown, &redacted, error)
                      : book.Placeholder(chunk.tag == kTagCustomer ? "customer" : "comment", *text,
                                         *text, shown, &redacted, error);
        if (!ok) return false;
        replacements->push_back(Replacement{chunk.offset,
                                            chunk.offset + kChunkHeaderSize + chunk.length,
                                            TextChunk(chunk.tag, redacted)});
    }
    return true;
}

}  // namespace

RedactOutcome RedactPackage(Host& host, const std::string& in, const std::string& out,
                            PlaceholderBook& book, std::string* error) {
    PackageReport report;
    if (!ReadPackage(in, &report)) {
        *error = ProblemText(in, report);
        return VerdictOf(report) == PackageVerdict::kUnreadable ? RedactOutcome::kUnreadable
                                                                : RedactOutcome::kDamaged;
    }
    std::vector<Replacement> replacements;
    if (!PlanReplacements(report, book, &replacements, error)) return RedactOutcome::kRefused;

    // The writer compresses containerPath through containerPath + ".tmp"; all three are new.
    const std::string containerPath = out + ".container";
    if (PathExists(out) || PathExists(containerPath) || PathExists(containerPath + ".tmp")) {
        *error = "cannot write " + out + ": it, or a temporary file beside it, exists";
        return RedactOutcome::kWriteFailed;
    }
    OwnedFile container(OpenNewFile(containerPath));
    if (!container) {
        *error = "cannot create " + containerPath;
        return RedactOutcome::kWriteFailed;
    }
    RedactingSink sink(container.Get(), replacements);
    PackageReport again;
    bool read = ReadPackage(in, &again, &sink);
    bool closed = container.Close();
    const bool unreadable = !read && again.error.kind != "extract-failed";
    const bool changed = read && again.sha256 != report.sha256;
    if (!read || changed || !closed) {
        std::remove(containerPath.c_str());
        *error = unreadable ? ProblemText(in, again)
                 : changed  ? in + " changed while it was read"
                            : "cannot write " + containerPath;
        return RedactOutcome::kWriteFailed;
    }
    if (MakeZlg(host, containerPath, out) != kPackageOk) {
        *error = "cannot write " + out;
        return RedactOutcome::kWriteFailed;
    }
    // What was written is read back as any reader would: a package that does not check out
    // must never be handed on.
    PackageReport written;
    if (!ReadPackage(out, &written) || written.chunks.size() != report.chunks.size()) {
        std::remove(out.c_str());
        *error = "the redacted package " + out + " did not read back whole";
        return RedactOutcome::kWriteFailed;
    }
    return RedactOutcome::kWritten;
}

}  // namespace trawler
