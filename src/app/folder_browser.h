// FolderBrowser: the shell's folder dialog, opened at the folder chosen before.
#pragma once

#include <windows.h>
#include <shlobj.h>

#include <string>

namespace trawler {

class FolderBrowser {
  public:
    explicit FolderBrowser(const std::string& initialFolder);
    virtual ~FolderBrowser() = default;
    FolderBrowser(const FolderBrowser&) = delete;
    FolderBrowser& operator=(const FolderBrowser&) = delete;

    void SetTitle(const std::string& title);
    // 1 when a folder was confirmed (GetPath then gives it), 2 when the dialog was cancelled
    // or the folder chosen was refused.
    int Run();
    std::string GetPath() const { return m_strPath; }
    // The folder chosen when its name has characters that the ANSI code page, in which every
    // path of the program is written, cannot hold; empty otherwise.
    const std::wstring& RefusedFolder() const { return m_strRefused; }

  private:
    static int CALLBACK InitialSelection(HWND dialog, UINT message, LPARAM param, LPARAM data);

    BROWSEINFOA m_info;
    std::string m_strPath;
    std::string m_strTitle;
    std::wstring m_strRefused;
    // The callback's copy of the initial folder: the record points at it while Run lasts.
    std::string m_strInitial;
};

}  // namespace trawler
