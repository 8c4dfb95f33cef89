// The packages under a folder, found the one way batch inspect and the desk's import share.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace trawler {

inline constexpr char kNameOutsideCodePageText[] =
    "its name has characters that the system's ANSI code page cannot hold";

// A package file's name: ".zlg" in any case, never the bare suffix.
bool HasPackageSuffix(const std::string& name);

struct PackageWalk {
    // A package file; nameUsable false on Windows when no narrow path reaches it (see
    // FolderEntry), so that it can be named as unreadable rather than left out.
    std::function<void(const std::string& path, bool nameUsable)> package;
    // A folder that could not be listed, with the reason.
    std::function<void(const std::string& folder, const std::string& reason)> unlisted;
};

// Walks the folder in byte order of the names, subfolders where their names fall; returns how
// many packages it found.
uint64_t WalkPackages(const std::string& folder, const PackageWalk& walk);

}  // namespace trawler
