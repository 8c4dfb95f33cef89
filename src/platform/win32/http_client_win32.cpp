// HttpPutFile over WinHTTP: a system DLL, so trawler-cli.exe still runs with nothing beside it,
// and the PC's proxy settings and certificate store are the ones the technician's IT set.
#include <windows.h>
#include <winhttp.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "platform/http_client.h"

namespace trawler {

namespace {

constexpr DWORD kBlock = 64 * 1024;

// A WinHTTP handle (session, connection or request), closed when its owner goes.
class InternetHandle {
  public:
    explicit InternetHandle(HINTERNET handle = nullptr) : m_handle(handle) {}
    ~InternetHandle() {
        if (m_handle != nullptr) WinHttpCloseHandle(m_handle);
    }
    InternetHandle(const InternetHandle&) = delete;
    InternetHandle& operator=(const InternetHandle&) = delete;

    HINTERNET Get() const { return m_handle; }
    explicit operator bool() const { return m_handle != nullptr; }

  private:
    HINTERNET m_handle;
};

// The URL is ASCII (the caller percent-encodes), so widening is byte for byte.
std::wstring Wide(const std::string& ascii) {
    return std::wstring(ascii.begin(), ascii.end());
}

HttpAnswer Failure(const char* step) {
    const DWORD code = GetLastError();
    HttpAnswer a;
    a.outcome = HttpOutcome::kNoAnswer;
    switch (code) {
        case ERROR_WINHTTP_CANNOT_CONNECT:
            a.error = "cannot connect to the desk";
            break;
        case ERROR_WINHTTP_TIMEOUT:
            a.error = "the desk did not answer in time";
            break;
        case ERROR_WINHTTP_CONNECTION_ERROR:
            a.error = "the connection to the desk broke";
            break;
        case ERROR_WINHTTP_NAME_NOT_RESOLVED:
            a.error = "the desk's host name is not known";
            break;
        case ERROR_WINHTTP_SECURE_FAILURE:
            a.outcome = HttpOutcome::kCannotEverWork;
            a.error = "the desk's TLS certificate could not be verified";
            break;
        case ERROR_WINHTTP_INVALID_URL:
        case ERROR_WINHTTP_UNRECOGNIZED_SCHEME:
            a.outcome = HttpOutcome::kCannotEverWork;
            a.error = "WinHTTP cannot use this URL";
            break;
        default:
            a.error = "WinHTTP error " + std::to_string(code);
            break;
    }
    a.error += std::string(" (") + step + ")";
    return a;
}

// Loopback needs no proxy and must not be sent to one: the proxy would reach its own loopback.
bool IsLoopbackHost(const std::wstring& host) {
    return host == L"localhost" || host == L"::1" || host == L"[::1]" ||
           host.compare(0, 4, L"127.") == 0;
}

// A session with the PC's proxy settings: the automatic kind where the system has it (Windows
// 8.1 on), else the settings made with netsh.
HINTERNET OpenSession(bool loopback) {
    if (loopback) {
        return WinHttpOpen(L"trawler-cli", WINHTTP_ACCESS_TYPE_NO_PROXY, WINHTTP_NO_PROXY_NAME,
                           WINHTTP_NO_PROXY_BYPASS, 0);
    }
    HINTERNET session = WinHttpOpen(L"trawler-cli", WINHTTP_ACCESS_TYPE_AUTOMATIC_PROXY,
                                    WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0);
    if (session != nullptr) return session;
    return WinHttpOpen(L"trawler-cli", WINHTTP_ACCESS_TYPE_DEFAULT_PROXY, WINHTTP_NO_PROXY_NAME,
                       WINHTTP_NO_PROXY_BYPASS, 0);
}

// Streams the body after the request's headers; false with *answer saying why when the file
// could not be read or the body not sent.
bool SendBody(HINTERNET call, const HttpPutRequest& request, HttpAnswer* answer) {
    std::vector<char> block(kBlock);
    for (uint64_t left = request.bodySize; left > 0;) {
        const DWORD want = left < kBlock ? static_cast<DWORD>(left) : kBlock;
        if (std::fread(block.data(), 1, want, request.body) != want) {
            answer->outcome = HttpOutcome::kBodyUnreadable;
            answer->error = std::ferror(request.body) ? std::strerror(errno)
                                                      : "the file became shorter while it was sent";
            return false;
        }
        DWORD written = 0;
        if (!WinHttpWriteData(call, block.data(), want, &written) || written != want) {
            *answer = Failure("sending the package");
            return false;
        }
        left -= want;
    }
    return true;
}

// The answer's status and its first kHttpAnswerLimit bytes.
HttpAnswer ReadAnswer(HINTERNET call) {
    if (!WinHttpReceiveResponse(call, nullptr)) return Failure("waiting for the answer");
    DWORD status = 0;
    DWORD statusSize = sizeof status;
    if (!WinHttpQueryHeaders(call, WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                             WINHTTP_HEADER_NAME_BY_INDEX, &status, &statusSize,
                             WINHTTP_NO_HEADER_INDEX)) {
        return Failure("reading the answer's status");
    }
    HttpAnswer answer;
    std::vector<char> block(kBlock);
    while (answer.body.size() < kHttpAnswerLimit) {
        DWORD got = 0;
        if (!WinHttpReadData(call, block.data(), kBlock, &got))
            return Failure("reading the answer");
        if (got == 0) break;
        answer.body.append(block.data(), got);
    }
    answer.outcome = HttpOutcome::kAnswered;
    answer.status = static_cast<int>(status);
    if (answer.body.size() > kHttpAnswerLimit) answer.body.resize(kHttpAnswerLimit);
    return answer;
}

}  // namespace

HttpAnswer HttpPutFile(const HttpPutRequest& request) {
    HttpAnswer answer;
    answer.outcome = HttpOutcome::kCannotEverWork;
    if (request.bodySize > 0xFFFFFFFFu) {
        answer.error = "WinHTTP cannot send a body of 4 GiB or more";
        return answer;
    }
    const std::wstring url = Wide(request.url);
    URL_COMPONENTS parts;
    std::memset(&parts, 0, sizeof parts);
    parts.dwStructSize = sizeof parts;
    // Non-zero lengths with null pointers: the parts are pointed to inside url.
    parts.dwSchemeLength = parts.dwHostNameLength = parts.dwUrlPathLength =
        parts.dwExtraInfoLength = static_cast<DWORD>(-1);
    if (!WinHttpCrackUrl(url.c_str(), 0, 0, &parts)) return Failure("reading the URL");
    const std::wstring host(parts.lpszHostName, parts.dwHostNameLength);
    const std::wstring target = std::wstring(parts.lpszUrlPath, parts.dwUrlPathLength) +
                                std::wstring(parts.lpszExtraInfo, parts.dwExtraInfoLength);

    InternetHandle session(OpenSession(IsLoopbackHost(host)));
    if (!session) return Failure("opening a WinHTTP session");
    const int connectMs = request.connectTimeoutSeconds * 1000;
    const int transferMs = request.transferTimeoutSeconds * 1000;
    if (!WinHttpSetTimeouts(session.Get(), connectMs, connectMs, transferMs, transferMs)) {
        return Failure("setting the time-outs");
    }
    InternetHandle connection(WinHttpConnect(session.Get(), host.c_str(), parts.nPort, 0));
    if (!connection) return Failure("connecting");
    const DWORD secure = parts.nScheme == INTERNET_SCHEME_HTTPS ? WINHTTP_FLAG_SECURE : 0;
    InternetHandle call(WinHttpOpenRequest(connection.Get(), L"PUT", target.c_str(), nullptr,
                                           WINHTTP_NO_REFERER, WINHTTP_DEFAULT_ACCEPT_TYPES,
                                           secure));
    if (!call) return Failure("opening the request");
    // A redirection is reported, as the POSIX client does: the body is streamed once and could
    // not be sent again to the new place.
    DWORD noRedirects = WINHTTP_DISABLE_REDIRECTS;
    if (!WinHttpSetOption(call.Get(), WINHTTP_OPTION_DISABLE_FEATURE, &noRedirects,
                          sizeof noRedirects)) {
        return Failure("turning off redirections");
    }

    std::wstring headers = L"Content-Type: application/octet-stream\r\n";
    for (const auto& h : request.headers) headers += Wide(h.first + ": " + h.second + "\r\n");
    const DWORD total = static_cast<DWORD>(request.bodySize);
    if (!WinHttpSendRequest(call.Get(), headers.c_str(), static_cast<DWORD>(-1),
                            WINHTTP_NO_REQUEST_DATA, 0, total, 0)) {
        return Failure("sending the request");
    }
    if (!SendBody(call.Get(), request, &answer)) return answer;
    return ReadAnswer(call.Get());
}

}  // namespace trawler
