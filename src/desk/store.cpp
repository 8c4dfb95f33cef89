// The store's local files (the temporary folder both stores receive in, and the folder store
// itself): created, written, synced and renamed with the POSIX calls, whose durability rules
// the C runtime's streams do not expose.
#include "desk/store.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "desk/s3_store.h"
#include "platform/file_ops.h"

namespace trawler::desk {

namespace {

constexpr char kTempPrefix[] = "upload-";
constexpr char kCopyPrefix[] = "copy-";

bool HasPrefix(const char* name, const char* prefix) {
    return std::strncmp(name, prefix, std::strlen(prefix)) == 0;
}

// The names in a folder that pass the test.
template <typename Test>
std::vector<std::string> NamesIn(const std::string& folder, Test test) {
    std::vector<std::string> names;
    if (DIR* dir = opendir(folder.c_str())) {
        while (dirent* entry = readdir(dir)) {
            if (test(entry->d_name)) names.push_back(entry->d_name);
        }
        closedir(dir);
    }
    return names;
}

bool SyncFolder(const std::string& folder) {
    int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return false;
    bool ok = fsync(fd) == 0;
    close(fd);
    return ok;
}

// Creates the folder if needed; a new folder's name is synced into its parent.
bool EnsureFolder(const std::string& parent, const std::string& folder) {
    if (mkdir(folder.c_str(), 0750) == 0) return SyncFolder(parent);
    struct stat st {};
    return errno == EEXIST && stat(folder.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::string SystemText() {
    return std::strerror(errno);
}

}  // namespace

bool IsSha256Text(const std::string& text) {
    if (text.size() != 64) return false;
    for (char c : text) {
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
    }
    return true;
}

TempFile::~TempFile() {
    if (m_fd >= 0) close(m_fd);
    if (!m_kept && !m_path.empty()) unlink(m_path.c_str());
}

bool TempFile::Write(const uint8_t* data, size_t size) {
    while (size > 0) {
        if (m_used == sizeof m_buffer) {
            for (size_t done = 0; done < m_used;) {
                ssize_t n = write(m_fd, m_buffer + done, m_used - done);
                if (n < 0 && errno == EINTR) continue;
                if (n <= 0) return false;
                done += static_cast<size_t>(n);
            }
            m_used = 0;
        }
        size_t take = std::min(size, sizeof m_buffer - m_used);
        std::memcpy(m_buffer + m_used, data, take);
        m_used += take;
        data += take;
        size -= take;
    }
    return true;
}

bool TempFile::SyncAndClose() {
    if (m_fd < 0) return false;
    bool ok = true;
    for (size_t done = 0; ok && done < m_used;) {
        ssize_t n = write(m_fd, m_buffer + done, m_used - done);
        if (n < 0 && errno == EINTR) continue;
        ok = n > 0;
        if (ok) done += static_cast<size_t>(n);
    }
    m_used = 0;
    ok = ok && fsync(m_fd) == 0;
    ok = close(m_fd) == 0 && ok;
    m_fd = -1;
    return ok;
}

StoredCopy::~StoredCopy() {
    if (m_temporary) unlink(m_path.c_str());
}

void StoredCopy::Set(std::string path, bool temporary) {
    if (m_temporary) unlink(m_path.c_str());
    m_path = std::move(path);
    m_temporary = temporary;
}

Store::Store(const std::string& dataFolder)
    : m_data(dataFolder), m_root(m_data + "/store"), m_temp(m_root + "/tmp") {}

bool Store::PrepareFolders(std::string* error) {
    const std::string parent = ParentFolder(m_data);
    if (!EnsureFolder(parent.empty() ? "." : parent, m_data) || !EnsureFolder(m_data, m_root) ||
        !EnsureFolder(m_root, m_temp)) {
        *error = "cannot create the store in " + m_root + ": " + SystemText();
        return false;
    }
    return true;
}

TempHold::~TempHold() {
    if (m_fd >= 0) close(m_fd);
}

bool TempHold::Take(int fd) {
    if (m_fd >= 0) close(m_fd);
    // A lock of its own open file: the caller's descriptor may be closed long before the file
    // is moved or removed.
    m_fd = fcntl(fd, F_DUPFD_CLOEXEC, 0);
    struct stat status {};
    if (m_fd >= 0 && flock(m_fd, LOCK_EX | LOCK_NB) == 0 && fstat(m_fd, &status) == 0 &&
        status.st_nlink > 0) {
        return true;
    }
    if (m_fd >= 0) close(m_fd);
    m_fd = -1;
    return false;
}

namespace {

// A new file named PREFIX plus six characters in the folder, open and held; the descriptor,
// or -1. A sweep that takes the name first (between its creation and its lock) is let be, and
// another name taken.
int CreateHeld(const std::string& folder, const char* prefix, TempHold* hold, std::string* path,
               std::string* error) {
    for (int attempt = 0; attempt < 5; ++attempt) {
        std::string pattern = folder + "/" + prefix + "XXXXXX";
        std::vector<char> name(pattern.begin(), pattern.end());
        name.push_back('\0');
        const int fd = mkostemp(name.data(), O_CLOEXEC);
        if (fd < 0) break;
        if (hold->Take(fd)) {
            *path = name.data();
            return fd;
        }
        close(fd);
        unlink(name.data());
    }
    *error = "cannot create a file in " + folder + ": " + SystemText();
    return -1;
}

}  // namespace

// Copies left by a crash while a package was read back are removed too, but only unfinished
// uploads are counted: they are what a sender may have to send again.
int Store::SweepTemporaryFiles() {
    int removed = 0;
    for (const std::string& name : NamesIn(m_temp, [](const char* n) {
             return HasPrefix(n, kTempPrefix) || HasPrefix(n, kCopyPrefix);
         })) {
        // What a server that shares this folder is writing or reading is locked; a crashed
        // server's lock went with its process.
        const std::string path = m_temp + "/" + name;
        const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0) continue;
        if (flock(fd, LOCK_EX | LOCK_NB) == 0 && unlink(path.c_str()) == 0 &&
            HasPrefix(name.c_str(), kTempPrefix)) {
            ++removed;
        }
        close(fd);
    }
    return removed;
}

bool Store::CreateTemp(TempFile* file, std::string* error) {
    file->m_fd = CreateHeld(m_temp, kTempPrefix, &file->m_hold, &file->m_path, error);
    return file->m_fd >= 0;
}

bool Store::CreateCopyFile(StoredCopy* copy, std::string* error) const {
    std::string path;
    const int fd = CreateHeld(m_temp, kCopyPrefix, &copy->m_hold, &path, error);
    if (fd < 0) return false;
    close(fd);
    copy->Set(path, true);
    return true;
}

bool FolderStore::Prepare(std::string* error) {
    return PrepareFolders(error);
}

bool FolderStore::Commit(TempFile* file, const std::string& sha256, std::string* error) {
    const std::string first = m_root + "/" + sha256.substr(0, 2);
    const std::string second = first + "/" + sha256.substr(2, 2);
    if (!EnsureFolder(m_root, first) || !EnsureFolder(first, second)) {
        *error = "cannot create the folder " + second + ": " + SystemText();
        return false;
    }
    // The same digest means the same bytes, so a file already there (left by an intake that
    // died before its catalogue row) is replaced by an equal one.
    const std::string target = PathOf(sha256);
    if (rename(file->Path().c_str(), target.c_str()) != 0) {
        *error = "cannot move the package to " + target + ": " + SystemText();
        return false;
    }
    file->Kept();
    if (!SyncFolder(second)) {
        *error = "cannot sync the folder " + second + ": " + SystemText();
        return false;
    }
    return true;
}

bool FolderStore::Fetch(const std::string& sha256, StoredCopy* copy, std::string* error) const {
    const std::string path = PathOf(sha256);
    if (access(path.c_str(), R_OK) != 0) {
        *error = "cannot read the stored file " + path + ": " + SystemText();
        return false;
    }
    copy->Set(path, false);
    return true;
}

bool FolderStore::Remove(const std::string& sha256, std::string* error) {
    const std::string path = PathOf(sha256);
    if (unlink(path.c_str()) != 0 && errno != ENOENT) {
        *error = "cannot remove " + path + ": " + SystemText();
        return false;
    }
    const std::string folder = ParentFolder(path);
    if (!SyncFolder(folder) && errno != ENOENT) {
        *error = "cannot sync the folder " + folder + ": " + SystemText();
        return false;
    }
    return true;
}

bool FolderStore::List(std::vector<std::string>* sha256s, std::string* error) const {
    auto isShard = [](const char* n) {
        return std::strlen(n) == 2 && IsSha256Text(std::string(n) + std::string(62, '0'));
    };
    if (access(m_root.c_str(), R_OK | X_OK) != 0) {
        *error = "cannot list the store " + m_root + ": " + SystemText();
        return false;
    }
    for (const std::string& first : NamesIn(m_root, isShard)) {
        const std::string outer = m_root + "/" + first;
        for (const std::string& second : NamesIn(outer, isShard)) {
            std::string inner = outer;
            inner += '/';
            inner += second;
            for (const std::string& name :
                 NamesIn(inner, [](const char* n) { return IsSha256Text(n); })) {
                sha256s->push_back(name);
            }
        }
    }
    return true;
}

std::string FolderStore::PathOf(const std::string& sha256) const {
    return m_data + "/" + RelativePathOf(sha256);
}

std::string Store::RelativePathOf(const std::string& sha256) {
    return "store/" + sha256.substr(0, 2) + "/" + sha256.substr(2, 2) + "/" + sha256;
}

std::unique_ptr<Store> OpenStore(const std::string& location, const std::string& dataFolder,
                                 std::string* error) {
    if (location.empty()) return std::make_unique<FolderStore>(dataFolder);
    S3StoreOptions options;
    if (!ParseS3Location(location, &options, error) ||
        !S3CredentialsFromEnvironment(&options, error)) {
        return nullptr;
    }
    return std::make_unique<S3Store>(dataFolder, options);
}

}  // namespace trawler::desk
