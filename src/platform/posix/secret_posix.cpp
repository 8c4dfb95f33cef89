// Random bytes through libcrypto. (Files for the owner only are made in file_ops_posix.cpp.)
#include <openssl/rand.h>

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

}  // namespace trawler
