// File operations whose behaviour differs between Windows and POSIX, made to behave alike.
#pragma once

#include <cstdio>
#include <string>

namespace trawler {

// Creates the file for binary writing only if nothing of that name exists yet; null when it
// exists or cannot be created (errno tells why).
std::FILE* OpenNewFile(const std::string& path);

// Renames without ever replacing an existing target: false when the target exists (as the
// Windows runtime's rename does), or when the rename fails for another reason.
bool RenameNoReplace(const std::string& from, const std::string& to);

// Whether anything (file, folder, link) exists under the path.
bool PathExists(const std::string& path);

}  // namespace trawler
