// The walk of a folder for packages.
#include "output/package_walk.h"

#include <algorithm>
#include <vector>

#include "platform/file_ops.h"

namespace trawler {

// Packages travel through Windows PCs, mail and memory sticks, which do not keep the case of a
// name reliably ("NO1234~1.ZLG"); a package skipped for its case would go unnoticed, while a
// file wrongly taken for one is reported as damaged.
// A name that is only the suffix (".zlg") is a hidden file's name, not a package's.
bool HasPackageSuffix(const std::string& name) {
    if (name.size() <= 4) return false;
    std::string suffix = name.substr(name.size() - 4);
    std::transform(suffix.begin(), suffix.end(), suffix.begin(), [](char c) {
        return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
    });
    return suffix == ".zlg";
}

// A folder's entries in byte order of their names, the same on every system and in every
// locale; a subfolder is walked where its name falls. Only the names of the folder's packages
// and subfolders are kept while it is walked, as sorting needs them. Links to files are read
// like files; links to folders are not followed: one pointing up the tree would never end, and
// one pointing elsewhere would take packages outside the folder named, or the same ones twice.
// A link to nothing is passed over like any entry that is neither a file nor a folder.
uint64_t WalkPackages(const std::string& folder, const PackageWalk& walk) {
    std::vector<FolderEntry> entries;
    std::string error;
    if (!ListFolder(folder, &entries, &error)) walk.unlisted(folder, error);
    entries.erase(std::remove_if(entries.begin(), entries.end(),
                                 [](const FolderEntry& e) {
                                     bool walked = e.isFolder && !e.isLink;
                                     return !walked && !(e.isFile && HasPackageSuffix(e.name));
                                 }),
                  entries.end());
    std::sort(entries.begin(), entries.end(),
              [](const FolderEntry& a, const FolderEntry& b) { return a.name < b.name; });
    uint64_t found = 0;
    for (const FolderEntry& entry : entries) {
        const std::string path = PathInFolder(folder, entry.name);
        if (entry.isFolder && !entry.nameUsable) {
            walk.unlisted(path, kNameOutsideCodePageText);
        } else if (entry.isFolder) {
            found += WalkPackages(path, walk);
        } else {
            ++found;
            walk.package(path, entry.nameUsable);
        }
    }
    return found;
}

}  // namespace trawler
