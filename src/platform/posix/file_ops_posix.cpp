// File operations the C runtime lacks on POSIX: exclusive creation, rename that never replaces,
// folders and their listing.
#include "platform/file_ops.h"
#include "platform/secret.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace trawler {

namespace {

// A new file (never one that exists) whose permissions are `mode` less the umask from the
// moment it exists, so a private file is never readable by others, not even briefly.
std::FILE* OpenNew(const std::string& path, mode_t mode) {
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
    if (fd < 0) return nullptr;
    std::FILE* file = ::fdopen(fd, "wb");
    if (file == nullptr) {
        int saved = errno;
        ::close(fd);
        ::unlink(path.c_str());
        errno = saved;
    }
    return file;
}

}  // namespace

std::FILE* OpenNewFile(const std::string& path) {
    return OpenNew(path, 0666);
}

std::FILE* OpenNewPrivateFile(const std::string& path) {
    return OpenNew(path, 0600);
}

bool RenameNoReplace(const std::string& from, const std::string& to) {
#if defined(RENAME_NOREPLACE)
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) {
        return true;
    }
    // Only a file system (or kernel) without the flag falls through to link and unlink.
    if (errno != EINVAL && errno != ENOSYS && errno != ENOTSUP) return false;
#endif
    // POSIX rename would silently replace the target; link fails with EEXIST instead.
    if (::link(from.c_str(), to.c_str()) != 0) return false;
    if (::unlink(from.c_str()) != 0) {
        int saved = errno;
        ::unlink(to.c_str());
        errno = saved;
        return false;
    }
    return true;
}

bool RenameReplacing(const std::string& from, const std::string& to) {
    return std::rename(from.c_str(), to.c_str()) == 0;
}

bool PathExists(const std::string& path) {
    struct stat info;
    return ::lstat(path.c_str(), &info) == 0;
}

bool IsFolder(const std::string& path) {
    struct stat info;
    return ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

bool MakeFolder(const std::string& path) {
    return ::mkdir(path.c_str(), 0777) == 0;
}

bool RemoveEmptyFolder(const std::string& path) {
    return ::rmdir(path.c_str()) == 0;
}

std::string PathInFolder(const std::string& folder, const std::string& name) {
    if (folder.empty() || folder.back() == '/') return folder + name;
    return folder + '/' + name;
}

std::string ParentFolder(const std::string& path) {
    size_t end = path.size();
    while (end > 0 && path[end - 1] == '/') --end;
    size_t cut = end;
    while (cut > 0 && path[cut - 1] != '/') --cut;
    if (cut == 0) return std::string();
    size_t parentEnd = cut;
    while (parentEnd > 0 && path[parentEnd - 1] == '/') --parentEnd;
    return path.substr(0, parentEnd == 0 ? 1 : parentEnd);  // "/x" is in "/"
}

namespace {

class OwnedDir {
  public:
    explicit OwnedDir(DIR* dir) : m_dir(dir) {}
    ~OwnedDir() {
        if (m_dir != nullptr) ::closedir(m_dir);
    }
    OwnedDir(const OwnedDir&) = delete;
    OwnedDir& operator=(const OwnedDir&) = delete;
    DIR* Get() const { return m_dir; }

  private:
    DIR* m_dir;
};

// An entry that vanishes between the listing and the look at it is neither file nor folder.
FolderEntry EntryOf(const std::string& folder, const char* name) {
    FolderEntry entry;
    entry.name = name;
    const std::string path = PathInFolder(folder, entry.name);
    struct stat info;
    if (::lstat(path.c_str(), &info) != 0) return entry;
    entry.isLink = S_ISLNK(info.st_mode);
    if (entry.isLink && ::stat(path.c_str(), &info) != 0) return entry;
    entry.isFolder = S_ISDIR(info.st_mode);
    entry.isFile = S_ISREG(info.st_mode);
    return entry;
}

}  // namespace

bool ListFolder(const std::string& folder, std::vector<FolderEntry>* entries, std::string* error) {
    OwnedDir dir(::opendir(folder.c_str()));
    if (dir.Get() == nullptr) {
        *error = std::strerror(errno);
        return false;
    }
    for (;;) {
        errno = 0;
        const dirent* item = ::readdir(dir.Get());
        if (item == nullptr) break;
        if (std::strcmp(item->d_name, ".") == 0 || std::strcmp(item->d_name, "..") == 0) continue;
        entries->push_back(EntryOf(folder, item->d_name));
    }
    if (errno != 0) {
        *error = std::strerror(errno);
        return false;
    }
    return true;
}

}  // namespace trawler
