// The outbox: a folder's list of packages still to be sent to the support desk, and the same
// kind of list for the folders that have one.
//
// A list file is text, one name per line (LF; a CR before it is ignored), in the order the names
// were added. It is only ever replaced whole: the new list is written to "<list>.new" beside it
// and renamed over it, so a crash mid-write leaves the previous list as it was.
#pragma once

#include <string>
#include <vector>

namespace trawler {

// The list of packages waiting in a folder, beside them.
inline constexpr char kOutboxName[] = ".trawler-outbox";

// The names of a list's text: blank lines and repeats left out, first places kept.
std::vector<std::string> ParseList(const std::string& text);
// The text of a list of names (none of which holds a line break).
std::string ListText(const std::vector<std::string>& names);

// The names in the list file; a missing file is an empty list. False with the reason when the
// file is there but cannot be read.
bool ReadListFile(const std::string& path, std::vector<std::string>* names, std::string* error);
// Replaces the list file with `names` (an empty list removes it). False with the reason when
// it could not be written; the file then holds what it held before.
bool WriteListFile(const std::string& path, const std::vector<std::string>& names,
                   std::string* error);

// Adds `name` at the end unless the list holds it already. False for an empty name or one with
// a line break, or when the file cannot be read or written.
bool AddToListFile(const std::string& path, const std::string& name, std::string* error);
// Takes `name` out of the list; true when it is no longer there.
bool RemoveFromListFile(const std::string& path, const std::string& name, std::string* error);

// A package waiting in a folder's outbox.
struct QueuedPackage {
    std::string folder;
    std::string name;
};

// The outbox of a folder, and the folder list (`folderList`, a list file of the user's own)
// that says where outboxes are. All three are called from one thread only.
//
// Before a send: the package's name into its folder's outbox and the folder into the list,
// so that a send cut short by a crash or a closed window is tried again at the next start.
bool QueuePackage(const std::string& folderList, const QueuedPackage& package, std::string* error);
// After a send: the package leaves its outbox unless it stays queued, and a folder whose outbox
// has emptied leaves the list.
bool SettlePackage(const std::string& folderList, const QueuedPackage& package, bool staysQueued,
                   std::string* error);
// Every package waiting in the listed folders, folder by folder in the list's order; folders
// without an outbox (emptied, or gone with their folder) leave the list.
std::vector<QueuedPackage> WaitingPackages(const std::string& folderList, std::string* error);

}  // namespace trawler
