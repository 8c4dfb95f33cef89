// The one-file recording: writer, unpacker and the loader that takes either form.
//
// Layout (".ztr"):
//   0      8  "PV730ZT1"
//   8      n  one gzip member (RFC 1952), whose inflated bytes are a list of entries:
//                2  name length N, big-endian; 0 ends the list, and nothing follows it
//                N  the name: 1 to 255 bytes, no '/', '\\' or ':', not "." or ".."
//                8  data length L, big-endian
//                L  the file's bytes
//              The first entry is the device description (its name ends in ".json"); the others
//              are the side files it names, relative to its own folder. No name comes twice.
// The gzip trailer's CRC and length cover the list, so a damaged or cut file is refused whole.
#include "sim/recording_archive.h"

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <set>

#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>
#include <zlib.h>

#include "platform/big_endian.h"
#include "platform/file_ops.h"
#include "platform/owned_file.h"

namespace trawler {

namespace {

// Says why, for a refusal returned in one line.
bool Refuse(std::string* error, const std::string& why) {
    *error = why;
    return false;
}

constexpr size_t kMagicSize = sizeof kRecordingArchiveMagic - 1;
constexpr size_t kBlock = 16384;
constexpr size_t kMaxNameSize = 255;
// Far more than a recording has (a description, the log, a few long answers): the bound keeps a
// damaged list from filling a disk with empty files.
constexpr size_t kMaxEntries = 64;
constexpr int kGzipWindowBits = 15 + 16;

void PutBig64(uint8_t* out, uint64_t value) {
    PutBig32(out, static_cast<uint32_t>(value >> 32));
    PutBig32(out + 4, static_cast<uint32_t>(value));
}

uint64_t ReadBig64(const uint8_t* p) {
    return (uint64_t{ReadBig32(p)} << 32) | ReadBig32(p + 4);
}

bool EndsWith(const std::string& text, const std::string& end) {
    if (text.size() < end.size()) return false;
    return std::equal(end.begin(), end.end(), text.end() - static_cast<long>(end.size()),
                      [](char a, char b) { return std::tolower(a) == std::tolower(b); });
}

// A name that stays inside the folder it is unpacked into, on either system.
bool IsEntryName(const std::string& name) {
    if (name.empty() || name.size() > kMaxNameSize || name == "." || name == "..") return false;
    return std::none_of(name.begin(), name.end(), [](char c) {
        return c == '/' || c == '\\' || c == ':' || static_cast<unsigned char>(c) < 0x20;
    });
}

std::string BaseName(const std::string& path) {
    const size_t slash = path.find_last_of("/\\");
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The folder part as LoadDeviceDescription takes it, for the paths it resolves.
std::string LoaderFolder(const std::string& path) {
    const size_t slash = path.find_last_of("/\\");
    return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

std::string TemporaryBase() {
    for (const char* name : {"TMPDIR", "TEMP", "TMP"}) {
        const char* value = std::getenv(name);
        if (value != nullptr && *value != '\0' && IsFolder(value)) return value;
    }
    return IsFolder("/tmp") ? "/tmp" : ".";
}

// The gzip member's writer: bytes in, deflated bytes out to the file as they come.
class GzipWriter {
  public:
    explicit GzipWriter(std::FILE* file) : m_file(file) {
        m_ok = deflateInit2(&m_z, 6, Z_DEFLATED, kGzipWindowBits, 8, Z_DEFAULT_STRATEGY) == Z_OK;
    }
    ~GzipWriter() { deflateEnd(&m_z); }
    GzipWriter(const GzipWriter&) = delete;
    GzipWriter& operator=(const GzipWriter&) = delete;

    bool Write(const uint8_t* data, size_t size) { return Pump(data, size, Z_NO_FLUSH); }
    bool Finish() { return Pump(nullptr, 0, Z_FINISH); }

  private:
    bool Pump(const uint8_t* data, size_t size, int flush) {
        m_z.next_in = const_cast<Bytef*>(data);
        m_z.avail_in = static_cast<uInt>(size);
        uint8_t out[kBlock] = {};
        int rc = Z_OK;
        do {
            m_z.next_out = out;
            m_z.avail_out = sizeof out;
            rc = deflate(&m_z, flush);
            if (rc == Z_STREAM_ERROR) m_ok = false;
            const size_t made = sizeof out - m_z.avail_out;
            if (m_ok && std::fwrite(out, 1, made, m_file) != made) m_ok = false;
        } while (m_ok && (m_z.avail_out == 0 || (flush == Z_FINISH && rc != Z_STREAM_END)));
        return m_ok;
    }

    std::FILE* m_file;
    z_stream m_z{};
    bool m_ok = false;
};

// The gzip member's reader: exactly the bytes asked for, or false.
class GzipReader {
  public:
    explicit GzipReader(std::FILE* file) : m_file(file) {
        m_ok = inflateInit2(&m_z, kGzipWindowBits) == Z_OK;
    }
    ~GzipReader() { inflateEnd(&m_z); }
    GzipReader(const GzipReader&) = delete;
    GzipReader& operator=(const GzipReader&) = delete;

    bool Read(uint8_t* out, size_t size) {
        m_z.next_out = out;
        m_z.avail_out = static_cast<uInt>(size);
        while (m_ok && m_z.avail_out > 0) {
            if (m_ended || !Refill()) return m_ok = false;
            const int rc = inflate(&m_z, Z_NO_FLUSH);
            if (rc == Z_STREAM_END) {
                m_ended = true;
            } else if (rc != Z_OK) {
                m_ok = false;
            }
        }
        return m_ok;
    }
    // After the last entry: the member's trailer checks out and nothing follows it.
    bool AtCleanEnd() {
        uint8_t spare = 0;
        if (!m_ended && m_ok) {
            m_z.next_out = &spare;
            m_z.avail_out = 1;
            m_ok = Refill() && inflate(&m_z, Z_NO_FLUSH) == Z_STREAM_END && m_z.avail_out == 1;
            m_ended = m_ok;
        }
        return m_ok && m_ended && m_z.avail_in == 0 && std::fgetc(m_file) == EOF;
    }

  private:
    bool Refill() {
        if (m_z.avail_in > 0) return true;
        const size_t got = std::fread(m_in, 1, sizeof m_in, m_file);
        m_z.next_in = m_in;
        m_z.avail_in = static_cast<uInt>(got);
        return got > 0;
    }

    std::FILE* m_file;
    z_stream m_z{};
    uint8_t m_in[kBlock] = {};
    bool m_ok = false;
    bool m_ended = false;
};

bool WriteEntry(GzipWriter& gz, const std::string& name, const std::string& path,
                std::string* error) {
    OwnedFile file(std::fopen(path.c_str(), "rb"));
    if (!file || std::fseek(file.Get(), 0, SEEK_END) != 0) {
        *error = "cannot read " + path;
        return false;
    }
    const long size = std::ftell(file.Get());
    std::rewind(file.Get());
    uint8_t head[2 + kMaxNameSize + 8];
    PutBig16(head, static_cast<uint32_t>(name.size()));
    std::copy(name.begin(), name.end(), head + 2);
    PutBig64(head + 2 + name.size(), size < 0 ? 0 : static_cast<uint64_t>(size));
    if (!gz.Write(head, 2 + name.size() + 8)) return false;
    uint64_t left = size < 0 ? 0 : static_cast<uint64_t>(size);
    uint8_t block[kBlock];
    while (left > 0) {
        const size_t want = static_cast<size_t>(std::min<uint64_t>(left, sizeof block));
        // A side file that shrank under us would leave the entry shorter than its length says.
        if (std::fread(block, 1, want, file.Get()) != want) {
            *error = "cannot read " + path;
            return false;
        }
        if (!gz.Write(block, want)) return false;
        left -= want;
    }
    return true;
}

bool WriteMember(std::FILE* out, const std::string& descriptionPath,
                 const std::vector<std::string>& sideFiles, std::string* error) {
    GzipWriter gz(out);
    const std::string folder = LoaderFolder(descriptionPath);
    if (!WriteEntry(gz, BaseName(descriptionPath), descriptionPath, error)) return false;
    for (const std::string& name : sideFiles) {
        if (!WriteEntry(gz, name, folder.empty() ? name : PathInFolder(folder, name), error)) {
            return false;
        }
    }
    const uint8_t end[2] = {0, 0};
    return gz.Write(end, sizeof end) && gz.Finish();
}

}  // namespace

bool IsRecordingArchivePath(const std::string& path) {
    return EndsWith(path, kRecordingArchiveExtension) &&
           path.size() > sizeof kRecordingArchiveExtension - 1;
}

TemporaryFolder::TemporaryFolder() {
    const std::string base = TemporaryBase();
    // The clock only spreads the names of programs started together; MakeFolder decides.
    const unsigned long start = static_cast<unsigned long>(std::clock()) % 100000;
    for (unsigned long n = 0; n < 1000 && m_folder.empty(); ++n) {
        const std::string candidate =
            PathInFolder(base, "trawler-recording-" + std::to_string(start + n));
        if (MakeFolder(candidate)) m_folder = candidate;
    }
}

TemporaryFolder::~TemporaryFolder() {
    if (m_folder.empty()) return;
    for (const std::string& name : m_names) std::remove(PathInFolder(m_folder, name).c_str());
    RemoveEmptyFolder(m_folder);
}

std::string TemporaryFolder::Path(const std::string& name) {
    if (std::find(m_names.begin(), m_names.end(), name) == m_names.end()) m_names.push_back(name);
    return PathInFolder(m_folder, name);
}

bool WriteRecordingArchive(const std::string& descriptionPath,
                           const std::vector<std::string>& sideFiles,
                           const std::string& archivePath, std::string* error) {
    for (const std::string& name : sideFiles) {
        if (!IsEntryName(name)) {
            *error = "the side file " + name + " is not beside the description";
            return false;
        }
    }
    if (PathExists(archivePath)) {
        *error = archivePath + " already exists";
        return false;
    }
    // Beside the target, so the rename stays on one disk and a crash leaves only this name.
    const std::string partial = archivePath + ".part";
    OwnedFile out(OpenNewFile(partial));
    if (!out) {
        *error = "cannot create " + partial;
        return false;
    }
    error->clear();
    bool ok = std::fwrite(kRecordingArchiveMagic, 1, kMagicSize, out.Get()) == kMagicSize &&
              WriteMember(out.Get(), descriptionPath, sideFiles, error);
    ok = out.Close() && ok;
    if (ok && !RenameNoReplace(partial, archivePath)) {
        *error = PathExists(archivePath) ? archivePath + " already exists"
                                         : "cannot rename " + partial + " to " + archivePath;
        ok = false;
    }
    if (!ok) {
        if (error->empty()) *error = "cannot write " + partial;
        std::remove(partial.c_str());
    }
    return ok;
}

bool UnpackedRecording::Unpack(const std::string& archivePath, std::string* error) {
    OwnedFile in(std::fopen(archivePath.c_str(), "rb"));
    if (!in) {
        *error = "cannot open the file";
        return false;
    }
    char magic[kMagicSize] = {};
    if (std::fread(magic, 1, kMagicSize, in.Get()) != kMagicSize ||
        std::memcmp(magic, kRecordingArchiveMagic, kMagicSize) != 0) {
        *error =
            std::string("not a recording (it does not begin with ") + kRecordingArchiveMagic + ")";
        return false;
    }
    if (!m_folder.Ok()) {
        *error = "cannot create a temporary folder to unpack it into";
        return false;
    }
    const std::string damaged = "the recording is damaged or cut short";
    GzipReader gz(in.Get());
    std::set<std::string> names;
    for (;;) {
        uint8_t length[2];
        if (!gz.Read(length, sizeof length)) return Refuse(error, damaged);
        const uint32_t nameSize = ReadBig16(length);
        if (nameSize == 0) break;
        std::string name(nameSize, '\0');
        uint8_t size[8];
        if (!gz.Read(reinterpret_cast<uint8_t*>(&name[0]), nameSize) || !gz.Read(size, 8)) {
            return Refuse(error, damaged);
        }
        if (!IsEntryName(name) || (names.empty() && !EndsWith(name, ".json"))) {
            *error = "the recording names a file outside itself: \"" + name + "\"";
            return false;
        }
        if (!names.insert(name).second || names.size() > kMaxEntries) {
            *error = "the recording holds \"" + name + "\" twice, or too many files";
            return false;
        }
        const std::string path = m_folder.Path(name);
        OwnedFile out(OpenNewFile(path));
        if (!out) return Refuse(error, "cannot unpack into " + path);
        uint8_t block[kBlock];
        for (uint64_t left = ReadBig64(size); left > 0;) {
            const size_t want = static_cast<size_t>(std::min<uint64_t>(left, sizeof block));
            if (!gz.Read(block, want)) return Refuse(error, damaged);
            if (std::fwrite(block, 1, want, out.Get()) != want) {
                return Refuse(error, "cannot unpack into " + path);
            }
            left -= want;
        }
        if (!out.Close()) return Refuse(error, "cannot unpack into " + path);
        if (m_description.empty()) m_description = path;
        m_entries.push_back(name);
    }
    if (!gz.AtCleanEnd() || m_description.empty()) return Refuse(error, damaged);
    return true;
}

namespace {

// Every "file" the description names, wherever it stands.
void NamedFiles(const nlohmann::json& value, std::vector<std::string>* names) {
    if (value.is_object()) {
        for (auto it = value.begin(); it != value.end(); ++it) {
            if (it.key() == "file" && it->is_string()) names->push_back(it->get<std::string>());
            NamedFiles(*it, names);
        }
    } else if (value.is_array()) {
        for (const auto& item : value) NamedFiles(item, names);
    }
}

}  // namespace

bool UnpackedRecording::HoldsEveryFile(std::string* error) const {
    std::ifstream file(m_description, std::ios::binary);
    std::ostringstream text;
    text << file.rdbuf();
    const nlohmann::json root = nlohmann::json::parse(text.str(), nullptr, false);
    std::vector<std::string> names;
    NamedFiles(root, &names);
    // Checked before the loader opens anything: a name is one of the entries, as it stands.
    for (const std::string& name : names) {
        if (std::find(m_entries.begin(), m_entries.end(), name) == m_entries.end()) {
            *error = "the recording names a file outside itself: \"" + name + "\"";
            return false;
        }
    }
    return true;
}

DeviceDescription LoadRecordedDevice(const std::string& path, UnpackedRecording* unpacked,
                                     std::string* error) {
    if (!IsRecordingArchivePath(path)) return LoadDeviceDescription(path, error);
    if (!unpacked->Unpack(path, error)) return DeviceDescription();
    if (!unpacked->HoldsEveryFile(error)) return DeviceDescription();
    error->clear();
    return LoadDeviceDescription(unpacked->DescriptionPath(), error);
}

}  // namespace trawler
