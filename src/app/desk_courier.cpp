// DeskCourier: one worker thread sends; every outbox change is made on the window's thread.
#include "app/desk_courier.h"

#include <shlobj.h>

#include <condition_variable>
#include <deque>
#include <exception>
#include <mutex>
#include <thread>

#include "app/framework/window.h"
#include "app/wizard_rules.h"
#include "platform/file_ops.h"
#include "platform/system.h"

namespace trawler {

namespace {

constexpr UINT kMsgSent = WM_APP + 20;
constexpr char kWindowClass[] = "TrawlerDeskCourier";
constexpr char kUserAgent[] = "trawler";
constexpr char kListFolderName[] = "Trawler";
constexpr char kListFileName[] = "outbox-folders";

}  // namespace

// What the worker and the window's thread share. The worker holds it too, so a worker still
// sending when the courier goes touches nothing that has gone.
struct DeskCourier::Shared {
    std::mutex mutex;
    std::condition_variable wake;
    std::deque<QueuedPackage> toSend;
    std::deque<std::pair<QueuedPackage, DeskSendResult>> sent;
    HWND window = nullptr;  // null once the courier has gone
    bool stop = false;
    bool started = false;
};

std::string OutboxFolderListPath() {
    char appData[MAX_PATH] = {};
    if (FAILED(
            SHGetFolderPathA(nullptr, CSIDL_LOCAL_APPDATA, nullptr, SHGFP_TYPE_CURRENT, appData)))
        return "";
    const std::string folder = PathInFolder(appData, kListFolderName);
    if (!IsFolder(folder)) MakeFolder(folder);
    return PathInFolder(folder, kListFileName);
}

DeskCourier::DeskCourier(std::string base, std::string token, std::string folderList)
    : m_base(std::move(base)),
      m_token(std::move(token)),
      m_folderList(std::move(folderList)),
      m_shared(std::make_shared<Shared>()) {
    WNDCLASSA windowClass{};
    windowClass.lpfnWndProc = &DeskCourier::WindowProc;
    windowClass.hInstance = GetModuleHandleA(nullptr);
    windowClass.lpszClassName = kWindowClass;
    RegisterClassA(&windowClass);  // fails harmlessly when a second courier registers again
    m_hWnd = CreateWindowExA(0, kWindowClass, "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                             windowClass.hInstance, nullptr);
    if (m_hWnd) SetWindowLongPtrA(m_hWnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    m_shared->window = m_hWnd;
}

DeskCourier::~DeskCourier() {
    {
        std::lock_guard<std::mutex> lock(m_shared->mutex);
        m_shared->stop = true;
        m_shared->window = nullptr;
        m_shared->toSend.clear();
    }
    m_shared->wake.notify_all();
    if (m_hWnd) DestroyWindow(m_hWnd);
}

bool DeskCourier::Send(const std::string& packagePath, std::string* error) {
    const std::string folder = FolderOfPath(packagePath, &IsAnsiLeadByte);
    const QueuedPackage package{folder, packagePath.substr(folder.size())};
    if (!QueuePackage(m_folderList, package, error)) return false;
    Hand(package);
    return true;
}

void DeskCourier::SendWaiting() {
    std::string error;
    for (const QueuedPackage& package : WaitingPackages(m_folderList, &error)) Hand(package);
}

void DeskCourier::Hand(const QueuedPackage& package) {
    std::shared_ptr<Shared> shared = m_shared;
    std::lock_guard<std::mutex> lock(shared->mutex);
    shared->toSend.push_back(package);
    shared->wake.notify_all();
    if (shared->started) return;
    shared->started = true;
    const std::string base = m_base, token = m_token;
    // Detached: the window's thread never waits for the network. The worker ends when told to
    // stop, after the send it is in, or with the process.
    std::thread([shared, base, token] {
        std::unique_lock<std::mutex> lock(shared->mutex);
        for (;;) {
            shared->wake.wait(lock, [&] { return shared->stop || !shared->toSend.empty(); });
            if (shared->stop) return;
            const QueuedPackage package = shared->toSend.front();
            shared->toSend.pop_front();
            lock.unlock();
            const DeskSendResult result = SendPackageToDesk(
                base, token, PathInFolder(package.folder, package.name), kUserAgent);
            lock.lock();
            if (shared->stop) return;
            shared->sent.emplace_back(package, result);
            PostMessageA(shared->window, kMsgSent, 0, 0);
        }
    }).detach();
}

void DeskCourier::Settle() {
    std::deque<std::pair<QueuedPackage, DeskSendResult>> sent;
    {
        std::lock_guard<std::mutex> lock(m_shared->mutex);
        sent.swap(m_shared->sent);
    }
    for (const auto& s : sent) {
        std::string error;
        // A package that cannot be taken out of its outbox is sent again later, and the desk
        // answers that it has it: nothing is lost, nothing is counted twice.
        SettlePackage(m_folderList, s.first, StaysQueued(s.second.verdict), &error);
        if (m_listener) m_listener(PathInFolder(s.first.folder, s.first.name), s.second);
    }
}

LRESULT CALLBACK DeskCourier::WindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == kMsgSent) {
        auto* courier = reinterpret_cast<DeskCourier*>(GetWindowLongPtrA(hwnd, GWLP_USERDATA));
        // Nothing may cross into the system from here.
        try {
            if (courier) courier->Settle();
        } catch (const std::exception& e) {
            ReportCallbackException(e.what());
        } catch (...) {
            ReportCallbackException(nullptr);
        }
        return 0;
    }
    return DefWindowProcA(hwnd, message, wParam, lParam);
}

}  // namespace trawler
