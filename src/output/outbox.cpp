// List files (the outbox and its folder list): read, replaced whole through a temporary.
#include "output/outbox.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "platform/file_ops.h"
#include "platform/owned_file.h"

namespace trawler {

namespace {

bool Refuse(std::string* error, const std::string& why) {
    *error = why;
    return false;
}

bool Contains(const std::vector<std::string>& names, const std::string& name) {
    return std::find(names.begin(), names.end(), name) != names.end();
}

}  // namespace

std::vector<std::string> ParseList(const std::string& text) {
    std::vector<std::string> names;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(start, end - start);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (!line.empty() && !Contains(names, line)) names.push_back(line);
        start = end + 1;
    }
    return names;
}

std::string ListText(const std::vector<std::string>& names) {
    std::string text;
    for (const std::string& name : names) text += name + "\n";
    return text;
}

bool ReadListFile(const std::string& path, std::vector<std::string>* names, std::string* error) {
    names->clear();
    OwnedFile file(std::fopen(path.c_str(), "rb"));
    if (!file) {
        if (errno == ENOENT) return true;
        return Refuse(error, path + ": " + std::strerror(errno));
    }
    std::string text;
    char block[4096];
    for (size_t n; (n = std::fread(block, 1, sizeof block, file.Get())) > 0;) text.append(block, n);
    if (std::ferror(file.Get())) return Refuse(error, path + ": cannot be read");
    *names = ParseList(text);
    return true;
}

bool WriteListFile(const std::string& path, const std::vector<std::string>& names,
                   std::string* error) {
    if (names.empty()) {
        if (std::remove(path.c_str()) == 0 || !PathExists(path)) return true;
        return Refuse(error, path + ": " + std::strerror(errno));
    }
    const std::string temporary = path + ".new";
    std::remove(temporary.c_str());  // what a crash mid-write left
    const std::string text = ListText(names);
    bool written = false;
    {
        OwnedFile file(OpenNewFile(temporary));
        if (!file) return Refuse(error, temporary + ": " + std::strerror(errno));
        written = std::fwrite(text.data(), 1, text.size(), file.Get()) == text.size() &&
                  std::fflush(file.Get()) == 0;
        written = file.Close() && written;
    }
    if (!written || !RenameReplacing(temporary, path)) {
        const std::string why = std::strerror(errno);
        std::remove(temporary.c_str());
        return Refuse(error, path + ": " + why);
    }
    return true;
}

bool AddToListFile(const std::string& path, const std::string& name, std::string* error) {
    if (name.empty() || name.find_first_of("\r\n") != std::string::npos)
        return Refuse(error, "a name in a list is one line of text");
    std::vector<std::string> names;
    if (!ReadListFile(path, &names, error)) return false;
    if (Contains(names, name)) return true;
    names.push_back(name);
    return WriteListFile(path, names, error);
}

bool RemoveFromListFile(const std::string& path, const std::string& name, std::string* error) {
    std::vector<std::string> names;
    if (!ReadListFile(path, &names, error)) return false;
    if (!Contains(names, name)) return true;
    names.erase(std::find(names.begin(), names.end(), name));
    return WriteListFile(path, names, error);
}

bool QueuePackage(const std::string& folderList, const QueuedPackage& package, std::string* error) {
    return AddToListFile(PathInFolder(package.folder, kOutboxName), package.name, error) &&
           AddToListFile(folderList, package.folder, error);
}

bool SettlePackage(const std::string& folderList, const QueuedPackage& package, bool staysQueued,
                   std::string* error) {
    if (staysQueued) return true;
    const std::string outbox = PathInFolder(package.folder, kOutboxName);
    if (!RemoveFromListFile(outbox, package.name, error)) return false;
    // The outbox file goes with its last name; the folder list follows.
    if (PathExists(outbox)) return true;
    return RemoveFromListFile(folderList, package.folder, error);
}

std::vector<QueuedPackage> WaitingPackages(const std::string& folderList, std::string* error) {
    std::vector<QueuedPackage> waiting;
    std::vector<std::string> folders;
    if (!ReadListFile(folderList, &folders, error)) return waiting;
    std::vector<std::string> kept;
    for (const std::string& folder : folders) {
        std::vector<std::string> names;
        // An outbox that cannot be read now may be readable later: the folder stays listed.
        if (!ReadListFile(PathInFolder(folder, kOutboxName), &names, error)) {
            kept.push_back(folder);
            continue;
        }
        if (names.empty()) continue;
        kept.push_back(folder);
        for (const std::string& name : names) waiting.push_back({folder, name});
    }
    if (kept != folders) WriteListFile(folderList, kept, error);
    return waiting;
}

}  // namespace trawler
