// File operations on Windows: exclusive creation and rename that never replaces through the C
// runtime, folders through the system's ANSI calls, and the listing of a folder.
#include <windows.h>

#include "platform/file_ops.h"

#include <direct.h>
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdio>

#include "platform/system.h"
#include "platform/win32/ansi_names.h"

namespace trawler {

std::FILE* OpenNewFile(const std::string& path) {
    // _O_EXCL gives CREATE_NEW: the open fails when the file exists.
    int fd = _open(path.c_str(), _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY | _O_NOINHERIT,
                   _S_IREAD | _S_IWRITE);
    if (fd < 0) return nullptr;
    std::FILE* file = _fdopen(fd, "wb");
    if (file == nullptr) {
        int saved = errno;
        _close(fd);
        std::remove(path.c_str());
        errno = saved;
    }
    return file;
}

// The runtime's rename fails when the target exists, which is exactly what is wanted.
bool RenameNoReplace(const std::string& from, const std::string& to) {
    return std::rename(from.c_str(), to.c_str()) == 0;
}

// The runtime's rename never replaces; MoveFileEx does, in one step on the same volume.
bool RenameReplacing(const std::string& from, const std::string& to) {
    if (MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) !=
        0) {
        return true;
    }
    errno = EACCES;
    return false;
}

bool PathExists(const std::string& path) {
    struct _stat64 info;
    return _stat64(path.c_str(), &info) == 0;
}

bool IsFolder(const std::string& path) {
    DWORD attributes = GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool MakeFolder(const std::string& path) {
    return _mkdir(path.c_str()) == 0;
}

bool RemoveEmptyFolder(const std::string& path) {
    return _rmdir(path.c_str()) == 0;
}

namespace {

// Which bytes of a path are separators. In a double-byte code page a trail byte can be 0x5C
// ("表" in code page 932 is 95 5C), and it does not end a folder's name.
std::vector<bool> Separators(const std::string& path) {
    std::vector<bool> separator(path.size(), false);
    for (size_t i = 0; i < path.size(); ++i) {
        if (IsDBCSLeadByte(static_cast<BYTE>(path[i])) && i + 1 < path.size()) {
            ++i;
        } else {
            separator[i] = path[i] == '\\' || path[i] == '/';
        }
    }
    return separator;
}

bool IsDrive(const std::string& path, size_t length) {
    return length == 2 && path[1] == ':';
}

}  // namespace

std::string PathInFolder(const std::string& folder, const std::string& name) {
    // "C:" alone is the drive's current folder, which a separator would turn into its root.
    if (folder.empty() || Separators(folder).back() || IsDrive(folder, folder.size())) {
        return folder + name;
    }
    return folder + '\\' + name;
}

std::string ParentFolder(const std::string& path) {
    const std::vector<bool> separator = Separators(path);
    size_t end = path.size();
    while (end > 0 && separator[end - 1]) --end;
    size_t cut = end;
    while (cut > 0 && !separator[cut - 1]) --cut;
    if (cut == 0) return std::string();
    size_t parentEnd = cut;
    while (parentEnd > 0 && separator[parentEnd - 1]) --parentEnd;
    // A root keeps its separator: "\x" is in "\", "C:\x" in "C:\".
    if (parentEnd == 0 || IsDrive(path, parentEnd)) return path.substr(0, parentEnd + 1);
    return path.substr(0, parentEnd);
}

namespace {

// A handle released by the call that belongs to how it was opened.
template <BOOL(WINAPI* Release)(HANDLE)>
class OwnedHandle {
  public:
    explicit OwnedHandle(HANDLE handle) : m_handle(handle) {}
    ~OwnedHandle() {
        if (m_handle != INVALID_HANDLE_VALUE) Release(m_handle);
    }
    OwnedHandle(const OwnedHandle&) = delete;
    OwnedHandle& operator=(const OwnedHandle&) = delete;
    HANDLE Get() const { return m_handle; }

  private:
    HANDLE m_handle;
};

std::string ErrorText(DWORD code) {
    std::string text = SystemErrorText(code);
    while (!text.empty() && (text.back() == '\r' || text.back() == '\n' || text.back() == ' ')) {
        text.pop_back();
    }
    return text.empty() ? "error " + std::to_string(code) : text;
}

bool ToWide(const std::string& ansi, std::wstring* wide) {
    if (ansi.empty()) return true;
    const int size = static_cast<int>(ansi.size());
    int length = MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, ansi.data(), size, nullptr, 0);
    if (length <= 0) return false;
    wide->resize(static_cast<size_t>(length));
    return MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, ansi.data(), size, &(*wide)[0],
                               length) == length;
}

bool Narrow(DWORD flags, const std::wstring& wide, std::string* ansi, BOOL* defaulted) {
    const int size = static_cast<int>(wide.size());
    int length =
        WideCharToMultiByte(CP_ACP, flags, wide.data(), size, nullptr, 0, nullptr, defaulted);
    if (length <= 0) return false;
    ansi->resize(static_cast<size_t>(length));
    return WideCharToMultiByte(CP_ACP, flags, wide.data(), size, &(*ansi)[0], length, nullptr,
                               defaulted) == length;
}

}  // namespace

// Without WC_NO_BEST_FIT_CHARS "é" would become "e" in code page 932, and the program would open
// another file of that look-alike name.
bool ToAnsi(const std::wstring& wide, std::string* ansi) {
    if (GetACP() == CP_UTF8) {
        // UTF-8 takes neither the flag nor the report of a default; only a lone surrogate fails.
        if (Narrow(WC_ERR_INVALID_CHARS, wide, ansi, nullptr)) return true;
        if (!Narrow(0, wide, ansi, nullptr)) *ansi = "?";
        return false;
    }
    BOOL defaulted = FALSE;
    if (Narrow(WC_NO_BEST_FIT_CHARS, wide, ansi, &defaulted)) return !defaulted;
    *ansi = "?";
    return false;
}

namespace {

// A name surrogate (symbolic link, junction) points elsewhere; other reparse points (cloud
// placeholders, deduplicated files) are the file or folder itself.
FolderEntry EntryOf(const std::wstring& folder, const WIN32_FIND_DATAW& found) {
    FolderEntry entry;
    const std::wstring name = found.cFileName;
    entry.nameUsable = ToAnsi(name, &entry.name);
    DWORD attributes = found.dwFileAttributes;
    entry.isLink = (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 &&
                   IsReparseTagNameSurrogate(found.dwReserved0);
    if (entry.isLink) {
        // Opening follows the link; a link to nothing does not open.
        OwnedHandle<CloseHandle> target(CreateFileW(
            (folder + name).c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
            nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
        BY_HANDLE_FILE_INFORMATION info;
        if (target.Get() == INVALID_HANDLE_VALUE ||
            !GetFileInformationByHandle(target.Get(), &info)) {
            return entry;
        }
        attributes = info.dwFileAttributes;
    }
    entry.isFolder = (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    entry.isFile = !entry.isFolder && (attributes & FILE_ATTRIBUTE_DEVICE) == 0;
    return entry;
}

}  // namespace

// Listed through the wide calls: the ANSI ones would hand back a name the code page cannot hold
// with look-alikes or '?' in it, and nothing would tell it from a true name.
bool ListFolder(const std::string& folder, std::vector<FolderEntry>* entries, std::string* error) {
    std::wstring wideFolder;
    if (!ToWide(PathInFolder(folder, ""), &wideFolder)) {
        *error = ErrorText(ERROR_NO_UNICODE_TRANSLATION);
        return false;
    }
    WIN32_FIND_DATAW found;
    OwnedHandle<FindClose> find(FindFirstFileExW((wideFolder + L"*").c_str(), FindExInfoBasic,
                                                 &found, FindExSearchNameMatch, nullptr, 0));
    if (find.Get() == INVALID_HANDLE_VALUE) {
        const DWORD code = GetLastError();
        if (code == ERROR_FILE_NOT_FOUND) return true;  // an empty root has not even "." and ".."
        *error = ErrorText(code);
        return false;
    }
    do {
        const std::wstring name = found.cFileName;
        if (name == L"." || name == L"..") continue;
        entries->push_back(EntryOf(wideFolder, found));
    } while (FindNextFileW(find.Get(), &found));
    const DWORD code = GetLastError();
    if (code != ERROR_NO_MORE_FILES) {
        *error = ErrorText(code);
        return false;
    }
    return true;
}

}  // namespace trawler
