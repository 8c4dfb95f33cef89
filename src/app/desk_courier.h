// DeskCourier: packages to the support desk on a worker thread, each queued in its folder's
// outbox before it is sent, so that nothing is lost to a closed window or a desk that is down.
#pragma once

#include <windows.h>

#include <functional>
#include <memory>
#include <string>

#include "output/desk_upload.h"
#include "output/outbox.h"

namespace trawler {

// The desk as the registry names it: both values set, or no desk.
struct DeskSettings {
    std::string address;
    std::string token;
    bool Configured() const { return !address.empty() && !token.empty(); }
};

// The user's own list of folders that hold an outbox (in the local application data folder).
std::string OutboxFolderListPath();

class DeskCourier {
  public:
    // `base` from DeskBase, `token` usable. The worker starts with the first package.
    DeskCourier(std::string base, std::string token, std::string folderList);
    // Never waits for a send under way: the worker is told to stop and left to end on its own;
    // what it was sending is still in its outbox.
    ~DeskCourier();
    DeskCourier(const DeskCourier&) = delete;
    DeskCourier& operator=(const DeskCourier&) = delete;

    // Queues the package in its folder's outbox, then hands it to the worker. False (with the
    // reason) when it could not be queued; it is then not sent either.
    bool Send(const std::string& packagePath, std::string* error);
    // Hands every package the outboxes hold to the worker, in the order they were queued.
    void SendWaiting();

    // Called on this thread, from the message loop, with each package's path and result.
    using Listener = std::function<void(const std::string& packagePath, const DeskSendResult&)>;
    void SetListener(Listener listener) { m_listener = std::move(listener); }

  private:
    struct Shared;
    static LRESULT CALLBACK WindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
    void Hand(const QueuedPackage& package);
    void Settle();

    std::string m_base;
    std::string m_token;
    std::string m_folderList;
    std::shared_ptr<Shared> m_shared;
    HWND m_hWnd = nullptr;  // message-only: the worker's results arrive here
    Listener m_listener;
};

}  // namespace trawler
