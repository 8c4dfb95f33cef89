// Random bytes through libcrypto, and files created with the owner's permissions only.
#include <fcntl.h>
#include <openssl/rand.h>
#include <unistd.h>

#include <cerrno>
#include <climits>

#include "platform/secret.h"

namespace trawler {

bool SecureRandomBytes(uint8_t* data, size_t size) {
    while (size > 0) {
        int chunk = size > static_cast<size_t>(INT_MAX) ? INT_MAX : static_cast<int>(size);
        if (RAND_bytes(data, chunk) != 1) return false;
        data += chunk;
        size -= static_cast<size_t>(chunk);
    }
    return true;
}

std::FILE* OpenNewPrivateFile(const std::string& path) {
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
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

}  // namespace trawler
