// The PUT of one package to the desk and the verdict on its answer.
#include "output/desk_upload.h"

#include <cerrno>
#include <cstring>
#include <nlohmann/json.hpp>
#include <vector>

#include "output/package_report.h"
#include "platform/owned_file.h"
#include "platform/sha256.h"

namespace trawler {

namespace {

constexpr size_t kBlock = size_t{64} * 1024;
constexpr size_t kShownAnswer = 200;
constexpr int kConnectTimeoutSeconds = 10;
constexpr int kTransferTimeoutSeconds = 60;

bool StartsWithNoCase(const std::string& text, const std::string& prefix) {
    if (text.size() < prefix.size()) return false;
    for (size_t i = 0; i < prefix.size(); ++i) {
        char c = text[i];
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        if (c != prefix[i]) return false;
    }
    return true;
}

// The desk's own message from an answer's body, else the first line of whatever answered.
std::string AnswerText(const HttpAnswer& a) {
    nlohmann::json j = nlohmann::json::parse(a.body, nullptr, false);
    if (j.is_object() && j.contains("error") && j["error"].is_string())
        return EscapeForTerminal(j["error"].get<std::string>());
    std::string start = a.body.substr(0, a.body.find('\n'));
    if (start.size() > kShownAnswer) start.replace(kShownAnswer, std::string::npos, "...");
    return EscapeForTerminal(start);
}

}  // namespace

std::string DeskBase(const std::string& url, std::string* error) {
    std::string scheme;
    for (const char* s : {"http://", "https://"}) {
        if (StartsWithNoCase(url, s)) scheme = s;
    }
    if (scheme.empty()) {
        *error = "the desk's URL must begin with http:// or https://: \"" + EscapeForTerminal(url) +
                 "\"";
        return "";
    }
    for (char c : url) {
        if (c <= ' ' || c > '~' || c == '?' || c == '#') {
            *error = "the desk's URL must be plain ASCII without spaces, '?' or '#': \"" +
                     EscapeForTerminal(url) + "\"";
            return "";
        }
    }
    const std::string rest = url.substr(scheme.size());
    const std::string authority = rest.substr(0, rest.find('/'));
    if (authority.empty() || authority[0] == ':' || authority.find('@') != std::string::npos) {
        *error = "the desk's URL needs a host, and no user name or password: \"" +
                 EscapeForTerminal(url) + "\"";
        return "";
    }
    std::string base = scheme + rest;
    while (base.back() == '/') base.pop_back();
    return base;
}

bool UsableToken(const std::string& token) {
    if (token.empty()) return false;
    for (char c : token) {
        if (c <= ' ' || c > '~') return false;
    }
    return true;
}

bool IsDeskAnswerFor(const nlohmann::json& answer, const std::string& sha256) {
    const auto names = [&answer, &sha256](const char* key) {
        return answer.contains(key) && answer[key] == sha256;
    };
    return answer.is_object() && (names("sha256") || names("received_sha256"));
}

DeskSendResult JudgeDeskAnswer(const HttpAnswer& a, const std::string& sha256) {
    switch (a.outcome) {
        case HttpOutcome::kBodyUnreadable:
            return {DeskVerdict::kUnreadable, a.error};
        case HttpOutcome::kNoAnswer:
        case HttpOutcome::kCannotEverWork:  // a certificate or an address: IT can mend both
            return {DeskVerdict::kUnreachable, a.error};
        case HttpOutcome::kAnswered:
            break;
    }
    const std::string status = "HTTP " + std::to_string(a.status);
    if (a.status == 200 || a.status == 201) {
        if (!IsDeskAnswerFor(nlohmann::json::parse(a.body, nullptr, false), sha256))
            return {DeskVerdict::kUnreachable, status + " from something other than the desk"};
        return {a.status == 201 ? DeskVerdict::kAdded : DeskVerdict::kAlready, ""};
    }
    const std::string said = AnswerText(a);
    const std::string detail = said.empty() ? status : status + ": " + said;
    if (a.status == 401 || a.status == 403) return {DeskVerdict::kTokenRefused, detail};
    if (a.status >= 400 && a.status < 500) return {DeskVerdict::kRefused, detail};
    return {DeskVerdict::kUnreachable, detail};
}

bool StaysQueued(DeskVerdict verdict) {
    return verdict == DeskVerdict::kUnreachable || verdict == DeskVerdict::kTokenRefused;
}

DeskSendResult SendPackageToDesk(const std::string& base, const std::string& token,
                                 const std::string& path, const std::string& userAgent) {
    OwnedFile file(std::fopen(path.c_str(), "rb"));
    if (!file) return {DeskVerdict::kUnreadable, std::strerror(errno)};
    Sha256 hash;
    std::vector<uint8_t> block(kBlock);
    uint64_t size = 0;
    for (size_t n; (n = std::fread(block.data(), 1, block.size(), file.Get())) > 0;) {
        hash.Update(block.data(), n);
        size += n;
    }
    if (std::ferror(file.Get()) || std::fseek(file.Get(), 0, SEEK_SET) != 0)
        return {DeskVerdict::kUnreadable, std::strerror(errno)};
    const std::string sha256 = hash.FinishHex();
    HttpPutRequest request;
    request.url = base + "/api/v1/packages/" + sha256;
    request.headers = {{"Authorization", "Bearer " + token}, {"User-Agent", userAgent}};
    request.body = file.Get();
    request.bodySize = size;
    request.connectTimeoutSeconds = kConnectTimeoutSeconds;
    request.transferTimeoutSeconds = kTransferTimeoutSeconds;
    return JudgeDeskAnswer(HttpPutFile(request), sha256);
}

}  // namespace trawler
