// File operations whose behaviour differs between Windows and POSIX, made to behave alike.
//
// Paths are the C runtime's narrow paths: on Windows they are in the ANSI code page, as the
// wizard, collect and the package reader use them, never UTF-8.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

namespace trawler {

// Creates the file for binary writing only if nothing of that name exists yet; null when it
// exists or cannot be created (errno tells why).
std::FILE* OpenNewFile(const std::string& path);

// Renames without ever replacing an existing target: false when the target exists (as the
// Windows runtime's rename does), or when the rename fails for another reason.
bool RenameNoReplace(const std::string& from, const std::string& to);

// Renames over an existing target in one step: a reader sees the old file or the new one,
// never neither. False when the rename fails (errno tells why).
bool RenameReplacing(const std::string& from, const std::string& to);

// Whether anything (file, folder, link) exists under the path.
bool PathExists(const std::string& path);

// Whether the path names a folder, or a link to one.
bool IsFolder(const std::string& path);

// Creates one folder; false when it cannot be created or exists (errno tells why).
bool MakeFolder(const std::string& path);

// Removes a folder that is empty; false otherwise.
bool RemoveEmptyFolder(const std::string& path);

// The path of name inside folder, with a separator only where folder does not end in one.
std::string PathInFolder(const std::string& folder, const std::string& name);

// The folder that holds the path; empty when there is none above it in the text (a bare name, a
// root). Always shorter than the path, so walking up ends.
std::string ParentFolder(const std::string& path);

// One entry of a folder. isFolder and isFile say what the entry leads to, so a link to a file
// is a file and a link to nothing is neither.
struct FolderEntry {
    std::string name;
    // False on Windows when the ANSI code page cannot hold the name: no narrow path reaches the
    // entry, and name is only for showing, with '?' for what could not be written.
    bool nameUsable = true;
    bool isFolder = false;
    bool isFile = false;
    bool isLink = false;  // a symbolic link, or on Windows a junction or other name surrogate
};

// The entries of a folder, "." and ".." left out, in the order the system gives them; false with
// the system's text in *error when the folder cannot be listed (entries then holds those listed
// before the failure).
bool ListFolder(const std::string& folder, std::vector<FolderEntry>* entries, std::string* error);

}  // namespace trawler
