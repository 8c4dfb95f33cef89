// trawler-cli send: each package PUT to the desk under its SHA-256, retried while the desk cannot
// be reached, so that a script may send blindly and send again.
#include "cli/send_command.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <nlohmann/json.hpp>
#include <thread>

#include "output/desk_upload.h"
#include "output/package_report.h"
#include "platform/file_ops.h"
#include "platform/http_client.h"
#include "platform/owned_file.h"
#include "platform/sha256.h"
#include "sim/recording_archive.h"

namespace trawler {

namespace {

constexpr char kSendUsageText[] =
    "usage: trawler-cli send FILE.zlg|FILE.ztr... --desk URL [--token TOKEN] [--ticket T]\n"
    "                        [--technician NAME]\n"
    "  --desk URL           the desk, http:// or https:// (e.g. https://desk.example.com)\n"
    "  --token TOKEN        a token of role upload; without it, the TRAWLER_DESK_TOKEN\n"
    "                       environment variable's (better: a command line can be seen by\n"
    "                       other users of the PC)\n"
    "  --ticket T           the support ticket, kept with each package\n"
    "  --technician NAME    who collected the packages, kept with each\n"
    "A FILE.ztr is a recording of a run (collect --record, trawler.exe -record): the desk\n"
    "replays it and lists it in the unit's history.\n"
    "Each file is sent under its SHA-256, so sending it again is safe: the desk answers that\n"
    "it has it. One line per file: added, already, refused or failed, the SHA-256, the\n"
    "desk's verdict or message, the path; then a count.\n"
    "A try that gets no answer (no connection within 10 s, or 60 s without progress) or a\n"
    "5xx answer is made again: at most 4 tries, after pauses of 1, 2 and 4 s, so a desk that\n"
    "does not answer is given up after 47 s per file (plus name lookups). A 4xx answer is\n"
    "never retried.\n"
    "Exit 0: every package is at the desk; 1: the desk refused one (4xx); 2: wrong\n"
    "arguments, a file that cannot be read, or the desk not reached.\n";
constexpr char kTokenVariable[] = "TRAWLER_DESK_TOKEN";
constexpr size_t kBlock = size_t{64} * 1024;
// A desk's message is shown on one line; a page from something else is cut short.
constexpr size_t kShownAnswer = 200;

// A recording's line: the unit it was catalogued under and how its replay at the desk ended.
std::string RecordingVerdict(const nlohmann::json& j) {
    const nlohmann::json replay = j.value("replay", nlohmann::json::object());
    const nlohmann::json unit = j.value("unit_number", nlohmann::json());
    std::string text = "recording of unit " + (unit.is_number() ? unit.dump() : "?") + ": ";
    if (replay.value("outcome", "") == "saved") return text + "the run saved its package";
    const nlohmann::json phase = replay.value("phase", nlohmann::json());
    return text + "the run failed" +
           (phase.is_string() ? " in phase " + phase.get<std::string>() : std::string());
}

struct SendOptions {
    std::vector<std::string> files;
    std::string desk;
    std::string token;
    std::string ticket;
    std::string technician;
};

std::string PercentEncoded(const std::string& text) {
    static const char kHex[] = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : text) {
        if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
            c == '-' || c == '.' || c == '_' || c == '~') {
            out.push_back(static_cast<char>(c));
        } else {
            out += {'%', kHex[c >> 4], kHex[c & 15]};
        }
    }
    return out;
}

// Parses the words after "send"; false with a message for the user when they are wrong.
bool ParseSendOptions(const std::vector<std::string>& args, SendOptions* o, std::string* error) {
    bool tokenGiven = false;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        std::string* value = a == "--desk"         ? &o->desk
                             : a == "--token"      ? &o->token
                             : a == "--ticket"     ? &o->ticket
                             : a == "--technician" ? &o->technician
                                                   : nullptr;
        if (value != nullptr) {
            if (i + 1 >= args.size()) {
                *error = a + " needs a value";
                return false;
            }
            *value = args[++i];
            tokenGiven = tokenGiven || a == "--token";
        } else if (a.size() > 1 && a[0] == '-') {
            *error = "unknown option " + EscapeForTerminal(a);
            return false;
        } else {
            o->files.push_back(a);
        }
    }
    if (o->files.empty()) {
        *error = "name at least one package to send";
        return false;
    }
    if (o->desk.empty()) {
        *error = "--desk URL is needed";
        return false;
    }
    if (!tokenGiven) {
        const char* fromEnvironment = std::getenv(kTokenVariable);
        if (fromEnvironment != nullptr) o->token = fromEnvironment;
    }
    if (o->token.empty()) {
        *error = std::string("a token is needed: --token TOKEN, or ") + kTokenVariable +
                 " in the environment";
        return false;
    }
    if (!UsableToken(o->token)) {
        *error = "the token must be printable ASCII without spaces";
        return false;
    }
    return true;
}

// The SHA-256 and size of a file read to its end; false with the reason when it cannot be.
bool DigestFile(std::FILE* file, std::string* sha256, uint64_t* size, std::string* error) {
    Sha256 hash;
    std::vector<uint8_t> block(kBlock);
    *size = 0;
    for (size_t n; (n = std::fread(block.data(), 1, block.size(), file)) > 0;) {
        hash.Update(block.data(), n);
        *size += n;
    }
    if (std::ferror(file)) {
        *error = std::strerror(errno);
        return false;
    }
    *sha256 = hash.FinishHex();
    return true;
}

std::string PauseText(std::chrono::milliseconds pause) {
    const long long ms = static_cast<long long>(pause.count());
    return ms % 1000 == 0 ? std::to_string(ms / 1000) + " s" : std::to_string(ms) + " ms";
}

// A text member of an answer's object, ready for a terminal; empty when there is none.
std::string TextField(const nlohmann::json& object, const char* name) {
    if (!object.is_object() || !object.contains(name) || !object[name].is_string()) return "";
    return EscapeForTerminal(object[name].get<std::string>());
}

// The desk's own message from an error answer, else the start of whatever answered.
std::string AnswerMessage(const HttpAnswer& a) {
    std::string message = TextField(nlohmann::json::parse(a.body, nullptr, false), "error");
    if (!message.empty()) return message;
    std::string start = a.body.substr(0, a.body.find('\n'));
    if (start.size() > kShownAnswer) start.replace(kShownAnswer, std::string::npos, "...");
    return start.empty() ? "(no message)" : EscapeForTerminal(start);
}

class Sender {
  public:
    Sender(const SendOptions& o, const std::string& base, const SendPolicy& policy, std::FILE* out,
           std::FILE* err)
        : m_o(o), m_base(base), m_policy(policy), m_out(out), m_err(err) {}

    void Send(const std::string& path);
    int Finish();

  private:
    HttpAnswer PutWithRetries(const std::string& path, std::FILE* file, const std::string& sha256,
                              uint64_t size, int* tries);
    void Line(const char* what, const std::string& sha256, const std::string& text,
              const std::string& path) {
        std::fprintf(m_out, "%s\t%s\t%s\t%s\n", what, sha256.c_str(), text.c_str(),
                     EscapeForTerminal(path).c_str());
        std::fflush(m_out);
    }

    const SendOptions& m_o;
    std::string m_base;
    const SendPolicy& m_policy;
    std::FILE* m_out;
    std::FILE* m_err;
    uint64_t m_count = 0, m_added = 0, m_already = 0, m_damaged = 0, m_refused = 0, m_failed = 0;
};

void Sender::Send(const std::string& path) {
    ++m_count;
    std::string sha256 = "-";
    std::string error;
    uint64_t size = 0;
    OwnedFile file;
    if (IsFolder(path)) {
        error = "a folder, not a package";
    } else {
        file = OwnedFile(std::fopen(path.c_str(), "rb"));
        if (!file) error = std::strerror(errno);
    }
    if (error.empty() && !DigestFile(file.Get(), &sha256, &size, &error)) sha256 = "-";
    if (!error.empty()) {
        ++m_failed;
        Line("failed", sha256, "cannot read it: " + error, path);
        return;
    }
    int tries = 0;
    HttpAnswer a = PutWithRetries(path, file.Get(), sha256, size, &tries);
    const std::string after = tries > 1 ? " (after " + std::to_string(tries) + " tries)" : "";
    if (a.outcome == HttpOutcome::kBodyUnreadable) {
        ++m_failed;
        Line("failed", sha256, "cannot read it: " + a.error, path);
        return;
    }
    if (a.outcome != HttpOutcome::kAnswered) {
        ++m_failed;
        Line("failed", sha256, "the desk was not reached" + after + ": " + a.error, path);
        return;
    }
    const std::string status = "HTTP " + std::to_string(a.status);
    if (a.status == 200 || a.status == 201) {
        nlohmann::json j = nlohmann::json::parse(a.body, nullptr, false);
        if (!IsDeskAnswerFor(j, sha256)) {
            ++m_failed;
            Line("failed", sha256,
                 status + " but not the desk's answer for this package: " + AnswerMessage(a), path);
            return;
        }
        std::string verdict = "valid";
        if (j.value("kind", "") == "recording") {
            verdict = RecordingVerdict(j);
        } else if (j["valid"] != true) {
            ++m_damaged;
            const nlohmann::json& e = j["error"];
            verdict = "damaged: " + TextField(e, "message") + " [" + TextField(e, "kind") + "]";
        }
        const bool added = a.status == 201;
        ++(added ? m_added : m_already);
        Line(added ? "added" : "already", sha256, verdict, path);
    } else if (a.status >= 400 && a.status < 500) {
        ++m_refused;
        Line("refused", sha256, status + ": " + AnswerMessage(a), path);
    } else {
        ++m_failed;
        Line("failed", sha256, status + after + ": " + AnswerMessage(a), path);
    }
}

HttpAnswer Sender::PutWithRetries(const std::string& path, std::FILE* file,
                                  const std::string& sha256, uint64_t size, int* tries) {
    std::string url = m_base +
                      (IsRecordingArchivePath(path) ? "/api/v1/recordings/" : "/api/v1/packages/") +
                      sha256;
    char separator = '?';
    for (const auto& field :
         {std::make_pair("ticket", &m_o.ticket), std::make_pair("technician", &m_o.technician)}) {
        if (field.second->empty()) continue;
        url += separator + std::string(field.first) + "=" + PercentEncoded(*field.second);
        separator = '&';
    }
    HttpPutRequest request;
    request.url = url;
    request.headers = {{"Authorization", "Bearer " + m_o.token}, {"User-Agent", "trawler-cli"}};
    request.body = file;
    request.bodySize = size;
    request.connectTimeoutSeconds = m_policy.connectTimeoutSeconds;
    request.transferTimeoutSeconds = m_policy.transferTimeoutSeconds;
    std::chrono::milliseconds pause = m_policy.firstPause;
    HttpAnswer a;
    for (*tries = 1;; ++*tries) {
        if (std::fseek(file, 0, SEEK_SET) != 0) {
            a.outcome = HttpOutcome::kBodyUnreadable;
            a.error = std::strerror(errno);
            return a;
        }
        a = HttpPutFile(request);
        const bool noAnswer = a.outcome == HttpOutcome::kNoAnswer;
        const bool deskFault = a.outcome == HttpOutcome::kAnswered && a.status >= 500;
        if (!(noAnswer || deskFault) || *tries >= m_policy.tries) return a;
        const std::string why =
            noAnswer ? a.error : "HTTP " + std::to_string(a.status) + ": " + AnswerMessage(a);
        std::fprintf(m_err, "trawler-cli send: %s: %s; trying again in %s (try %d of %d)\n",
                     EscapeForTerminal(path).c_str(), why.c_str(), PauseText(pause).c_str(),
                     *tries + 1, m_policy.tries);
        m_policy.pause(pause);
        pause *= 2;
    }
}

int Sender::Finish() {
    std::fprintf(
        m_out,
        "%llu package%s: %llu added, %llu already catalogued, %llu damaged, "
        "%llu refused, %llu failed\n",
        static_cast<unsigned long long>(m_count), m_count == 1 ? "" : "s",
        static_cast<unsigned long long>(m_added), static_cast<unsigned long long>(m_already),
        static_cast<unsigned long long>(m_damaged), static_cast<unsigned long long>(m_refused),
        static_cast<unsigned long long>(m_failed));
    if (m_failed > 0) return kSendFailed;
    return m_refused > 0 ? kSendRefused : kSendOk;
}

}  // namespace

int RunSend(const std::vector<std::string>& args, std::FILE* out, std::FILE* err) {
    SendPolicy policy;
    policy.pause = [](std::chrono::milliseconds pause) { std::this_thread::sleep_for(pause); };
    return RunSendWith(args, out, err, policy);
}

int RunSendWith(const std::vector<std::string>& args, std::FILE* out, std::FILE* err,
                const SendPolicy& policy) {
    for (const std::string& a : args) {
        if (a == "--help" || a == "-h") {
            std::fputs(kSendUsageText, out);
            return kSendOk;
        }
    }
    SendOptions options;
    std::string error;
    std::string base;
    if (ParseSendOptions(args, &options, &error)) base = DeskBase(options.desk, &error);
    if (base.empty()) {
        std::fprintf(err, "trawler-cli send: %s\n%s", error.c_str(), kSendUsageText);
        return kSendFailed;
    }
    Sender sender(options, base, policy, out, err);
    for (const std::string& path : options.files) sender.Send(path);
    return sender.Finish();
}

}  // namespace trawler
