// What a secret needs from the system: random bytes from its own generator, and a new file that
// only its owner can read.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

namespace trawler {

// Fills data from the system's cryptographic generator (libcrypto on POSIX, CNG on Windows);
// false when the system refused, and then nothing may be taken from data.
bool SecureRandomBytes(uint8_t* data, size_t size);

// As OpenNewFile (never over an existing file), but readable by its owner only on POSIX; on
// Windows the file takes the folder's permissions, as every file the user saves there does.
std::FILE* OpenNewPrivateFile(const std::string& path);

}  // namespace trawler
