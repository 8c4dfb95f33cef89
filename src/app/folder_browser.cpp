// FolderBrowser over SHBrowseForFolderA.
#include "app/folder_browser.h"

#include "platform/win32/ansi_names.h"

namespace trawler {

FolderBrowser::FolderBrowser(const std::string& initialFolder)
    : m_strPath(initialFolder), m_strInitial(initialFolder) {
    m_info = BROWSEINFOA{};
    m_info.ulFlags = BIF_RETURNONLYFSDIRS;
    m_info.lpfn = &FolderBrowser::InitialSelection;
    m_info.lParam = reinterpret_cast<LPARAM>(m_strInitial.c_str());
}

void FolderBrowser::SetTitle(const std::string& title) {
    m_strTitle = title;
    m_info.lpszTitle = m_strTitle.empty() ? nullptr : m_strTitle.c_str();
}

int FolderBrowser::Run() {
    LPITEMIDLIST item = SHBrowseForFolderA(&m_info);
    if (!item) {
        CoTaskMemFree(nullptr);
        return 2;
    }
    wchar_t buffer[MAX_PATH] = {};
    // A confirmed item without a file-system path (not reachable with BIF_RETURNONLYFSDIRS,
    // but the shell decides) counts as cancelled rather than clearing the folder.
    bool havePath = SHGetPathFromIDListW(item, buffer) != FALSE;
    CoTaskMemFree(item);
    if (!havePath) return 2;
    // The path is asked for in UTF-16: the ANSI call hands back look-alikes or '?' for what the
    // code page cannot hold, which names another folder or none. Such a folder is refused.
    std::string path;
    if (!ToAnsi(buffer, &path)) {
        m_strRefused = buffer;
        return 2;
    }
    m_strPath = path;
    return 1;
}

int CALLBACK FolderBrowser::InitialSelection(HWND dialog, UINT message, LPARAM, LPARAM data) {
    const char* initial = reinterpret_cast<const char*>(data);
    if (message == BFFM_INITIALIZED && initial && *initial)
        SendMessageA(dialog, BFFM_SETSELECTIONA, TRUE, data);
    return 0;
}

}  // namespace trawler
