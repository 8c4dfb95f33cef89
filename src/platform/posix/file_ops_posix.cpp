// File operations the C runtime lacks on POSIX: exclusive creation, rename that never replaces.
#include "platform/file_ops.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

namespace trawler {

std::FILE* OpenNewFile(const std::string& path) {
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
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

bool PathExists(const std::string& path) {
    struct stat info;
    return ::lstat(path.c_str(), &info) == 0;
}

}  // namespace trawler
