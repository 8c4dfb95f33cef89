// S3 requests through libcurl: its SigV4 signer, and bodies streamed from memory or a file.
#include "desk/s3_request.h"

#include <curl/curl.h>

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <mutex>
#include <thread>

namespace trawler::desk {

namespace {

// SHA-256 of no bytes: the payload hash of a request without a body.
constexpr char kEmptyHash[] = "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855";
// Tries of a repeatable request, 0.1 s and then 0.4 s apart.
constexpr int kAttempts = 3;

CURL* Handle(void* curl) {
    return static_cast<CURL*>(curl);
}

std::string Lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

void InitialiseCurl() {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

}  // namespace

std::string XmlValue(const std::string& xml, const std::string& tag, size_t* start) {
    const std::string open = "<" + tag + ">", close = "</" + tag + ">";
    size_t from = xml.find(open, start != nullptr ? *start : 0);
    if (from == std::string::npos) return std::string();
    from += open.size();
    size_t to = xml.find(close, from);
    if (to == std::string::npos) return std::string();
    if (start != nullptr) *start = to + close.size();
    return xml.substr(from, to - from);
}

// One lock for each kind of data libcurl shares, which it may hold together.
struct S3Connections::Locks {
    std::mutex kinds[CURL_LOCK_DATA_LAST];

    static void Lock(CURL*, curl_lock_data kind, curl_lock_access, void* self) {
        static_cast<Locks*>(self)->kinds[kind].lock();
    }
    static void Unlock(CURL*, curl_lock_data kind, void* self) {
        static_cast<Locks*>(self)->kinds[kind].unlock();
    }
};

S3Connections::S3Connections() : m_locks(std::make_unique<Locks>()) {
    InitialiseCurl();
    CURLSH* share = curl_share_init();
    if (share == nullptr) return;  // each request then opens its own connection
    curl_share_setopt(share, CURLSHOPT_LOCKFUNC, &Locks::Lock);
    curl_share_setopt(share, CURLSHOPT_UNLOCKFUNC, &Locks::Unlock);
    curl_share_setopt(share, CURLSHOPT_USERDATA, m_locks.get());
    curl_share_setopt(share, CURLSHOPT_SHARE, CURL_LOCK_DATA_CONNECT);
    curl_share_setopt(share, CURLSHOPT_SHARE, CURL_LOCK_DATA_DNS);
    curl_share_setopt(share, CURLSHOPT_SHARE, CURL_LOCK_DATA_SSL_SESSION);
    m_share = share;
}

S3Connections::~S3Connections() {
    if (m_share != nullptr) curl_share_cleanup(static_cast<CURLSH*>(m_share));
}

S3Request::S3Request(const std::string& url, const std::string& region,
                     const S3Credentials& credentials, const std::string& service,
                     S3Connections* connections)
    : m_url(url), m_service(service) {
    InitialiseCurl();
    m_curl = curl_easy_init();
    CURL* c = Handle(m_curl);
    if (c == nullptr) return;
    if (connections != nullptr && connections->m_share != nullptr) {
        curl_easy_setopt(c, CURLOPT_SHARE, static_cast<CURLSH*>(connections->m_share));
    }
    const std::string provider = "aws:amz:" + region + ":" + service;
    curl_easy_setopt(c, CURLOPT_AWS_SIGV4, provider.c_str());
    curl_easy_setopt(c, CURLOPT_USERNAME, credentials.accessKey.c_str());
    curl_easy_setopt(c, CURLOPT_PASSWORD, credentials.secretKey.c_str());
    if (!credentials.sessionToken.empty()) {
        m_headers.push_back("X-Amz-Security-Token: " + credentials.sessionToken);
    }
}

S3Request::~S3Request() {
    if (m_curl != nullptr) curl_easy_cleanup(Handle(m_curl));
}

void S3Request::Header(const std::string& line) {
    m_headers.push_back(line);
}

void S3Request::Body(const uint8_t* data, size_t size) {
    m_body = data;
    m_bodySize = size;
    m_hasBody = true;
}

void S3Request::BodyFromFile(std::FILE* file, uint64_t size) {
    m_bodyFile = file;
    m_bodyStart = ftello(file);
    m_bodySize = size;
    m_hasBody = true;
}

size_t S3Request::OnWrite(char* data, size_t size, size_t count, void* self) {
    S3Request& r = *static_cast<S3Request*>(self);
    const size_t n = size * count;
    long status = 0;
    curl_easy_getinfo(Handle(r.m_curl), CURLINFO_RESPONSE_CODE, &status);
    // An error answer's XML is kept as text even when the body was to go to a file.
    if (r.m_answerFile != nullptr && status >= 200 && status < 300) {
        if (std::fwrite(data, 1, n, r.m_answerFile) != n) {
            r.m_answerFailed = true;
            return 0;
        }
        return n;
    }
    if (r.m_text.size() < (1u << 20)) r.m_text.append(data, n);
    return n;
}

size_t S3Request::OnRead(char* data, size_t size, size_t count, void* self) {
    S3Request& r = *static_cast<S3Request*>(self);
    const size_t n =
        static_cast<size_t>(std::min<uint64_t>(size * count, r.m_bodySize - r.m_bodySent));
    if (n == 0) return 0;
    if (r.m_bodyFile != nullptr) {
        if (std::fread(data, 1, n, r.m_bodyFile) != n) return CURL_READFUNC_ABORT;
    } else {
        std::memcpy(data, r.m_body + r.m_bodySent, n);
    }
    r.m_bodySent += n;
    return n;
}

size_t S3Request::OnHeader(char* data, size_t size, size_t count, void* self) {
    S3Request& r = *static_cast<S3Request*>(self);
    std::string line(data, size * count);
    while (!line.empty() && (line.back() == '\r' || line.back() == '\n')) line.pop_back();
    if (line.compare(0, 5, "HTTP/") == 0) r.m_answerHeaders.clear();  // after a 100 Continue
    r.m_answerHeaders.push_back(line);
    return size * count;
}

void S3Request::Configure(const std::string& method, char* problem) {
    CURL* c = Handle(m_curl);
    curl_easy_setopt(c, CURLOPT_URL, m_url.c_str());
    curl_easy_setopt(c, CURLOPT_ERRORBUFFER, problem);
    curl_easy_setopt(c, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(c, CURLOPT_CONNECTTIMEOUT, 30L);
    // A server that stops answering is given up on after a minute without progress.
    curl_easy_setopt(c, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(c, CURLOPT_LOW_SPEED_TIME, 60L);
    curl_easy_setopt(c, CURLOPT_WRITEFUNCTION, &S3Request::OnWrite);
    curl_easy_setopt(c, CURLOPT_WRITEDATA, this);
    curl_easy_setopt(c, CURLOPT_HEADERFUNCTION, &S3Request::OnHeader);
    curl_easy_setopt(c, CURLOPT_HEADERDATA, this);
    curl_easy_setopt(c, CURLOPT_READFUNCTION, &S3Request::OnRead);
    curl_easy_setopt(c, CURLOPT_READDATA, this);
    if (method == "PUT") {
        curl_easy_setopt(c, CURLOPT_UPLOAD, 1L);
        curl_easy_setopt(c, CURLOPT_INFILESIZE_LARGE, static_cast<curl_off_t>(m_bodySize));
    } else if (method == "POST") {
        curl_easy_setopt(c, CURLOPT_POST, 1L);
        curl_easy_setopt(c, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(m_bodySize));
    } else if (method == "HEAD") {
        curl_easy_setopt(c, CURLOPT_NOBODY, 1L);
    } else if (method != "GET") {
        curl_easy_setopt(c, CURLOPT_CUSTOMREQUEST, method.c_str());
    }
}

// Back to the state before the request was sent: the body from its start again, nothing of the
// answer kept. False when a file cannot be wound back.
bool S3Request::ReadyToRepeat() {
    m_text.clear();
    m_answerHeaders.clear();
    m_bodySent = 0;
    if (m_bodyFile != nullptr && fseeko(m_bodyFile, m_bodyStart, SEEK_SET) != 0) return false;
    if (m_answerFile != nullptr &&
        (std::fflush(m_answerFile) != 0 || ftruncate(fileno(m_answerFile), 0) != 0)) {
        return false;
    }
    if (m_answerFile != nullptr) std::rewind(m_answerFile);
    return true;
}

bool S3Request::Perform(const std::string& method, std::string* error) {
    CURL* c = Handle(m_curl);
    if (c == nullptr) {
        *error = "cannot start an HTTP request (libcurl)";
        return false;
    }
    char problem[CURL_ERROR_SIZE] = {};
    Configure(method, problem);
    // libcurl 7.88 does not add the payload hash that S3 requires (other services do not);
    // it signs the one given.
    struct curl_slist* list = nullptr;
    for (const std::string& h : m_headers) list = curl_slist_append(list, h.c_str());
    const std::string hash =
        "x-amz-content-sha256: " + (m_payloadHash.empty() ? kEmptyHash : m_payloadHash);
    if (m_service == "s3") list = curl_slist_append(list, hash.c_str());
    curl_easy_setopt(c, CURLOPT_HTTPHEADER, list);
    // S3 asks its clients to repeat a request answered 500 or 503 (busy, "SlowDown"), and a
    // connection can drop; a request that does the same however often it is sent is tried
    // again after a pause, each time signed anew.
    const bool repeatable =
        method == "GET" || method == "HEAD" || method == "PUT" || method == "DELETE";
    CURLcode code = CURLE_OK;
    for (int attempt = 1;; ++attempt) {
        code = curl_easy_perform(c);
        curl_easy_getinfo(c, CURLINFO_RESPONSE_CODE, &m_status);
        const bool busy = code == CURLE_OK && (m_status == 500 || m_status == 503);
        if (!repeatable || attempt == kAttempts || m_answerFailed || (code == CURLE_OK && !busy)) {
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(100 << (2 * (attempt - 1))));
        problem[0] = '\0';
        if (!ReadyToRepeat()) break;
    }
    curl_slist_free_all(list);
    if (code != CURLE_OK || m_answerFailed) {
        *error = m_answerFailed
                     ? std::string("cannot write the downloaded copy: ") + std::strerror(errno)
                     : std::string("no answer from the object store: ") +
                           (problem[0] != '\0' ? problem : curl_easy_strerror(code));
        return false;
    }
    return true;
}

std::string S3Request::AnswerHeader(const std::string& name) const {
    const std::string wanted = Lower(name) + ":";
    for (const std::string& line : m_answerHeaders) {
        if (Lower(line.substr(0, wanted.size())) == wanted) {
            size_t from = line.find_first_not_of(" \t", wanted.size());
            return from == std::string::npos ? std::string() : line.substr(from);
        }
    }
    return std::string();
}

std::string S3Request::Problem() const {
    std::string text = std::to_string(m_status);
    const std::string code = XmlValue(m_text, "Code"), message = XmlValue(m_text, "Message");
    if (!code.empty()) text += " " + code;
    if (!message.empty()) text += ": " + message;
    // Answers to HEAD have no body to say why.
    if (code.empty() && m_status == 403) {
        text +=
            " (refused: check AWS_ACCESS_KEY_ID, AWS_SECRET_ACCESS_KEY and this machine's clock)";
    }
    if (code.empty() && m_status == 404) text += " (no such bucket or object)";
    return text;
}

}  // namespace trawler::desk
