// Random bytes through CNG's system generator; new files as OpenNewFile makes them.
#include <windows.h>

#include <bcrypt.h>

#include <climits>

#include "platform/file_ops.h"
#include "platform/secret.h"

namespace trawler {

bool SecureRandomBytes(uint8_t* data, size_t size) {
    while (size > 0) {
        ULONG chunk = size > ULONG_MAX ? ULONG_MAX : static_cast<ULONG>(size);
        NTSTATUS status = BCryptGenRandom(nullptr, data, chunk, BCRYPT_USE_SYSTEM_PREFERRED_RNG);
        if (!BCRYPT_SUCCESS(status)) return false;
        data += chunk;
        size -= chunk;
    }
    return true;
}

std::FILE* OpenNewPrivateFile(const std::string& path) {
    return OpenNewFile(path);
}

}  // namespace trawler
