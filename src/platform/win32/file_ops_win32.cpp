// File operations on Windows through the C runtime: exclusive creation, rename that never replaces.
#include "platform/file_ops.h"

#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdio>

namespace trawler {

std::FILE* OpenNewFile(const std::string& path) {
    // _O_EXCL gives CREATE_NEW: the open fails when the file exists.
    int fd = _open(path.c_str(), _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY | _O_NOINHERIT,
                   _S_IREAD | _S_IWRITE);
    if (fd < 0) return nullptr;
    std::FILE* file = _fdopen(fd, "wb");
    if (file == nullptr) {
        int saved = errno;
        _close(fd);
        std::remove(path.c_str());
        errno = saved;
    }
    return file;
}

// The runtime's rename fails when the target exists, which is exactly what is wanted.
bool RenameNoReplace(const std::string& from, const std::string& to) {
    return std::rename(from.c_str(), to.c_str()) == 0;
}

bool PathExists(const std::string& path) {
    struct _stat64 info;
    return _stat64(path.c_str(), &info) == 0;
}

}  // namespace trawler
