// trawler-desk serve, token, import and purge: argument parsing and what each prints.
#include "desk/desk_commands.h"

#include <httplib.h>
#include <pthread.h>
#include <pwd.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <ctime>
#include <memory>
#include <thread>

#include "desk/catalogue.h"
#include "desk/desk_server.h"
#include "desk/intake.h"
#include "desk/purge.h"
#include "desk/recording_replay.h"
#include "output/package_walk.h"
#include "output/redaction.h"
#include "desk/store.h"
#include "desk/tokens.h"
#include "platform/file_ops.h"

namespace trawler::desk {

namespace {

constexpr char kUsage[] =
    "usage: trawler-desk serve --data DIR [--store STORE] [--listen HOST:PORT]\n"
    "                          [--max-package BYTES] [--trust-proxy] [--redact-key KEY]\n"
    "       trawler-desk token add --data DIR --role upload|viewer|admin [--field-texts] NAME\n"
    "       trawler-desk token list --data DIR\n"
    "       trawler-desk token revoke --data DIR NAME\n"
    "       trawler-desk import --data DIR [--store STORE] [--ticket T] [--technician NAME]\n"
    "                           [--max-package BYTES] [--redact KEY] PATH...\n"
    "       trawler-desk purge --data DIR [--store STORE] --older-than DAYS [--keep-last N]\n"
    "       trawler-desk audit --data DIR [--since DATE] [--limit N] [--after ID]\n"
    "every command also takes --catalogue PATH|postgresql://...\n"
    "serve listens on 127.0.0.1:8730 unless told otherwise (port 0: any free port); the\n"
    "catalogue is DIR/catalogue.db unless --catalogue names another, the packages DIR/store/\n"
    "unless STORE names a bucket: s3://BUCKET[/PREFIX]?endpoint=URL&region=R, with\n"
    "AWS_ACCESS_KEY_ID and AWS_SECRET_ACCESS_KEY (and AWS_SESSION_TOKEN) in the environment.\n"
    "purge deletes the packages received more than DAYS days ago, but keeps each unit's N\n"
    "newest visits. --field-texts lets a token see customer, comment and PC texts (admin\n"
    "tokens always may). audit prints the audit log oldest first, N entries (100) after entry\n"
    "ID; --trust-proxy takes a request's address from X-Forwarded-For. With --redact-key or\n"
    "--redact every package is kept only as trawler-cli redact makes it with that key file.\n"
    "See docs/DESK.md.\n";
constexpr char kDefaultListen[] = "127.0.0.1:8730";

// The options every command shares, and the words that are not options.
struct Options {
    std::string data;
    std::string catalogue;  // empty: DIR/catalogue.db
    std::string store;      // empty: DIR/store/
    std::string listen = kDefaultListen;
    std::string role;
    std::string ticket, technician;
    uint64_t maxPackage = kDefaultMaxPackage;
    std::string olderThan, keepLast;
    std::string since, limit, after;
    std::string redactKey;  // a key file: keep redacted packages only
    bool fieldTexts = false;
    bool trustProxy = false;
    std::vector<std::string> words;

    std::string CatalogueLocation() const {
        return catalogue.empty() ? data + "/catalogue.db" : catalogue;
    }
};

bool ParseOptions(const std::vector<std::string>& args, size_t first, Options* o,
                  std::string* error) {
    for (size_t i = first; i < args.size(); ++i) {
        const std::string& a = args[i];
        std::string* target = a == "--data"         ? &o->data
                              : a == "--store"      ? &o->store
                              : a == "--listen"     ? &o->listen
                              : a == "--role"       ? &o->role
                              : a == "--ticket"     ? &o->ticket
                              : a == "--technician" ? &o->technician
                              : a == "--catalogue"  ? &o->catalogue
                              : a == "--older-than" ? &o->olderThan
                              : a == "--keep-last"  ? &o->keepLast
                              : a == "--since"      ? &o->since
                              : a == "--limit"      ? &o->limit
                              : a == "--after"      ? &o->after
                              : a == "--redact-key" ? &o->redactKey
                              : a == "--redact"     ? &o->redactKey
                                                    : nullptr;
        bool* flag = a == "--field-texts"   ? &o->fieldTexts
                     : a == "--trust-proxy" ? &o->trustProxy
                                            : nullptr;
        if (flag != nullptr) {
            *flag = true;
            continue;
        }
        if (target != nullptr || a == "--max-package") {
            if (i + 1 >= args.size()) {
                *error = a + " needs a value";
                return false;
            }
            const std::string& value = args[++i];
            if (target != nullptr) {
                *target = value;
                continue;
            }
            char* end = nullptr;
            unsigned long long bytes = std::strtoull(value.c_str(), &end, 10);
            if (value.empty() || *end != '\0' || bytes == 0 || value[0] == '-') {
                *error = "--max-package needs a number of bytes, not \"" + value + "\"";
                return false;
            }
            o->maxPackage = bytes;
        } else if (a.size() > 1 && a[0] == '-') {
            *error = "unknown option " + a;
            return false;
        } else {
            o->words.push_back(a);
        }
    }
    if (o->data.empty()) {
        *error = "--data DIR is needed";
        return false;
    }
    return true;
}

// "127.0.0.1:8730", "[::1]:8730".
bool SplitListen(const std::string& text, std::string* host, int* port) {
    size_t colon = text.rfind(':');
    if (colon == std::string::npos || colon == 0) return false;
    *host = text.substr(0, colon);
    if (host->size() > 2 && host->front() == '[' && host->back() == ']') {
        *host = host->substr(1, host->size() - 2);
    }
    const std::string digits = text.substr(colon + 1);
    if (digits.empty() || digits.size() > 5 ||
        digits.find_first_not_of("0123456789") != std::string::npos) {
        return false;
    }
    *port = static_cast<int>(std::strtol(digits.c_str(), nullptr, 10));
    return *port <= 65535;
}

std::unique_ptr<Catalogue> OpenForCommand(const Options& o, bool* created, std::FILE* err) {
    std::string error;
    // The data folder and its store folders, whatever the store: uploads arrive there first.
    FolderStore folders(o.data);
    std::unique_ptr<Catalogue> catalogue;
    if (folders.Prepare(&error))
        catalogue = desk::OpenCatalogue(o.CatalogueLocation(), created, &error);
    if (!catalogue) std::fprintf(err, "trawler-desk: %s\n", error.c_str());
    return catalogue;
}

// The store --store names, checked and reachable; null after saying why.
std::unique_ptr<Store> PreparedStore(const Options& o, std::FILE* err) {
    std::string error;
    std::unique_ptr<Store> store = OpenStore(o.store, o.data, &error);
    if (!store || !store->Prepare(&error)) {
        std::fprintf(err, "trawler-desk: %s\n", error.c_str());
        return nullptr;
    }
    return store;
}

bool ValidTokenName(const std::string& name) {
    if (name.empty() || name.size() > 64) return false;
    return std::all_of(name.begin(), name.end(), [](char c) {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
               c == '-' || c == '_' || c == '.' || c == '@';
    });
}

// The key of --redact-key (serve) or --redact (import), when given, for the intake to redact
// every package with; false after saying why it cannot be read.
bool LoadRedactionKey(const Options& o, RedactionKey* key, Intake* intake, std::FILE* err) {
    if (o.redactKey.empty()) return true;
    std::string error;
    if (!key->Load(o.redactKey, &error)) {
        std::fprintf(err, "trawler-desk: %s\n", error.c_str());
        return false;
    }
    intake->RedactWith(key);
    return true;
}

// An audit entry for a change made at this machine's console: by its login, from "console".
AuditEntry ConsoleAudit(const std::string& action, const std::string& subject) {
    const passwd* user = getpwuid(geteuid());
    const std::string login = user != nullptr ? user->pw_name : std::to_string(geteuid());
    return AuditEntry{0, UtcNow(), "console:" + login, action, subject, "console"};
}

// What a start does before serving: the uploads a crash cut short swept, the purges it cut
// short ended, and on a new catalogue the admin token made and shown.
bool ReadyToServe(Catalogue& catalogue, bool created, Store& store, std::FILE* out,
                  std::FILE* err) {
    const int swept = store.SweepTemporaryFiles();
    if (swept > 0) {
        std::fprintf(out, "trawler-desk: removed %d unfinished upload%s\n", swept,
                     swept == 1 ? "" : "s");
    }
    std::string error;
    if (FinishPurges(catalogue, store, out, &error) < 0) {
        std::fprintf(err, "trawler-desk: %s\n", error.c_str());
        return false;
    }
    if (created) {
        // The one credential a new desk has; never shown again, only its hash is kept.
        const std::string token = GenerateToken();
        if (token.empty() ||
            catalogue.AddToken("admin", TokenRole::kAdmin, false, HashToken(token)) != 1 ||
            !catalogue.AddAudit(ConsoleAudit("token-add", "admin (admin)"))) {
            std::fprintf(err, "trawler-desk: cannot make the admin token: %s\n",
                         catalogue.Error().c_str());
            return false;
        }
        std::fprintf(out, "admin token (shown once): %s\n", token.c_str());
    }
    return true;
}

// Serves the desk's routes on HOST:PORT until SIGINT or SIGTERM.
int ServeUntilStopped(const DeskContext& context, const std::string& host, int port,
                      const std::string& listen, std::FILE* out, std::FILE* err) {
    // SIGINT and SIGTERM stop the server from a thread of their own; blocked before the
    // server starts its threads, so none of those takes them.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
    signal(SIGPIPE, SIG_IGN);

    httplib::Server server;
    AddDeskRoutes(server, context);
    const int bound =
        port == 0 ? server.bind_to_any_port(host) : (server.bind_to_port(host, port) ? port : -1);
    if (bound <= 0) {
        std::fprintf(err, "trawler-desk: cannot listen on %s\n", listen.c_str());
        return kDeskFailed;
    }
    const bool v6 = host.find(':') != std::string::npos;
    std::fprintf(out, "trawler-desk: listening on http://%s%s%s:%d\n", v6 ? "[" : "", host.c_str(),
                 v6 ? "]" : "", bound);
    std::fflush(out);

    // A signal that comes before the server has begun to listen would stop nothing (stop() acts
    // on a running server only), so the stopper waits for it to run, or to have ended.
    std::atomic<bool> ended{false};
    std::thread stopper([&server, &ended, stopSignals] {
        int signal = 0;
        sigwait(&stopSignals, &signal);
        while (!server.is_running() && !ended) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        server.stop();
    });
    const bool listened = server.listen_after_bind();
    ended = true;
    // The server may have ended on its own: wake the stopper so it can be joined. The signal is
    // blocked in every thread and taken only by the stopper's sigwait: it ends nothing.
    // NOLINTNEXTLINE(bugprone-bad-signal-to-kill-thread,cert-pos44-c)
    pthread_kill(stopper.native_handle(), SIGTERM);
    stopper.join();
    return listened ? kDeskOk : kDeskFailed;
}

int RunServe(const Options& o, std::FILE* out, std::FILE* err) {
    std::string host;
    int port = 0;
    if (!o.words.empty() || !SplitListen(o.listen, &host, &port)) {
        std::fputs(kUsage, err);
        return kDeskFailed;
    }
    bool created = false;
    std::unique_ptr<Catalogue> catalogue = OpenForCommand(o, &created, err);
    if (!catalogue) return kDeskFailed;
    std::unique_ptr<Store> store = PreparedStore(o, err);
    if (!store || !ReadyToServe(*catalogue, created, *store, out, err)) return kDeskFailed;
    // Each request opens its own connection from here on.
    catalogue.reset();
    Intake intake(o.CatalogueLocation(), *store, o.maxPackage);
    RedactionKey key;
    if (!LoadRedactionKey(o, &key, &intake, err)) return kDeskFailed;
    DeskContext context{o.CatalogueLocation(), store.get(), &intake};
    context.trustProxy = o.trustProxy;
    return ServeUntilStopped(context, host, port, o.listen, out, err);
}

int RunToken(const Options& o, std::FILE* out, std::FILE* err) {
    const std::string action = o.words.empty() ? "" : o.words[0];
    const size_t names = o.words.size() - (o.words.empty() ? 0 : 1);
    if (!((action == "add" && names == 1) || (action == "revoke" && names == 1) ||
          (action == "list" && names == 0))) {
        std::fputs(kUsage, err);
        return kDeskFailed;
    }
    const std::string name = names == 1 ? o.words[1] : "";
    if (action == "add") {
        if (RoleFromName(o.role) == TokenRole::kNone) {
            std::fputs("trawler-desk token add: --role must be upload, viewer or admin\n", err);
            return kDeskFailed;
        }
        if (!ValidTokenName(name)) {
            std::fputs("trawler-desk token add: a name is 1 to 64 letters, digits and . - _ @\n",
                       err);
            return kDeskFailed;
        }
    }
    bool created = false;
    std::unique_ptr<Catalogue> catalogue = OpenForCommand(o, &created, err);
    if (!catalogue) return kDeskFailed;
    if (action == "list") {
        std::vector<TokenEntry> tokens;
        if (!catalogue->ListTokens(&tokens)) {
            std::fprintf(err, "trawler-desk: %s\n", catalogue->Error().c_str());
            return kDeskFailed;
        }
        for (const TokenEntry& t : tokens) {
            std::fprintf(out, "%s\t%s\t%s\t%s\n", t.name.c_str(), RoleName(t.role),
                         t.created.c_str(), SeesFieldTexts(t) ? "field-texts" : "-");
        }
        return kDeskOk;
    }
    // The change and its audit entry are kept together or not at all.
    WriteTransaction transaction(*catalogue);
    if (action == "revoke") {
        int revoked = transaction.Begun() ? catalogue->RevokeToken(name) : -1;
        if (revoked > 0 &&
            (!catalogue->AddAudit(ConsoleAudit("token-revoke", name)) || !transaction.Commit())) {
            revoked = -1;
        }
        if (revoked < 0) std::fprintf(err, "trawler-desk: %s\n", catalogue->Error().c_str());
        if (revoked == 0)
            std::fprintf(err, "trawler-desk token revoke: no token named %s\n", name.c_str());
        return revoked > 0 ? kDeskOk : kDeskFailed;
    }
    const std::string token = GenerateToken();
    int added =
        token.empty() || !transaction.Begun()
            ? -1
            : catalogue->AddToken(name, RoleFromName(o.role), o.fieldTexts, HashToken(token));
    const std::string subject = name + " (" + o.role + (o.fieldTexts ? ", field-texts" : "") + ")";
    if (added > 0 &&
        (!catalogue->AddAudit(ConsoleAudit("token-add", subject)) || !transaction.Commit())) {
        added = -1;
    }
    if (added == 0) {
        std::fprintf(err, "trawler-desk token add: a token named %s exists; revoke it first\n",
                     name.c_str());
        return kDeskFailed;
    }
    if (added < 0) {
        std::fprintf(err, "trawler-desk: cannot add the token: %s\n", catalogue->Error().c_str());
        return kDeskFailed;
    }
    std::fprintf(out, "%s\n", token.c_str());
    return kDeskOk;
}

class Import {
  public:
    Import(Intake& intake, const IntakeFields& fields, std::FILE* out, std::FILE* err)
        : m_intake(intake), m_fields(fields), m_out(out), m_err(err) {}

    void Path(const std::string& path) {
        if (!IsFolder(path)) {
            Package(path);
            return;
        }
        PackageWalk walk;
        walk.package = [this](const std::string& package, bool) { Package(package); };
        walk.unlisted = [this](const std::string& folder, const std::string& reason) {
            std::fprintf(m_err, "%s: cannot list this folder: %s\n", folder.c_str(),
                         reason.c_str());
            m_incomplete = true;
        };
        if (WalkPackages(path, walk) == 0) {
            std::fprintf(m_err, "%s: no .zlg package in this folder or its subfolders\n",
                         path.c_str());
            m_incomplete = true;
        }
    }

    int Finish() {
        std::fprintf(
            m_out,
            "%llu package%s: %llu added, %llu already catalogued, %llu damaged, "
            "%llu refused, %llu unreadable\n",
            static_cast<unsigned long long>(m_count), m_count == 1 ? "" : "s",
            static_cast<unsigned long long>(m_added), static_cast<unsigned long long>(m_already),
            static_cast<unsigned long long>(m_damaged), static_cast<unsigned long long>(m_refused),
            static_cast<unsigned long long>(m_unreadable));
        if (m_unreadable > 0 || m_incomplete) return kDeskFailed;
        return m_damaged + m_refused > 0 ? kDeskDamaged : kDeskOk;
    }

  private:
    void Package(const std::string& path) {
        ++m_count;
        IntakeResult r = m_intake.AddFile(path, m_fields);
        const PackageRecord& p = r.record;
        switch (r.status) {
            case IntakeStatus::kAdded:
            case IntakeStatus::kAlready: {
                const bool added = r.status == IntakeStatus::kAdded;
                ++(added ? m_added : m_already);
                if (p.verdict != "valid") ++m_damaged;
                const std::string verdict =
                    p.verdict == "valid" ? p.verdict
                                         : "damaged: " + p.message + " [" + p.errorKind + "]";
                std::fprintf(m_out, "%s\t%s\t%s\t%s\n", added ? "added" : "already",
                             p.sha256.c_str(), verdict.c_str(), path.c_str());
                break;
            }
            case IntakeStatus::kNotPackage:
            case IntakeStatus::kNotRecording:
            case IntakeStatus::kTooLarge:
            case IntakeStatus::kMismatch:
            case IntakeStatus::kNotRedacted:
                ++m_refused;
                std::fprintf(m_out, "refused\t-\t%s\t%s\n", r.message.c_str(), path.c_str());
                break;
            case IntakeStatus::kUnreadable:
            case IntakeStatus::kFailed:
                ++m_unreadable;
                std::fprintf(m_out, "failed\t-\t%s\t%s\n", r.message.c_str(), path.c_str());
                break;
        }
    }

    Intake& m_intake;
    IntakeFields m_fields;
    std::FILE* m_out;
    std::FILE* m_err;
    uint64_t m_count = 0, m_added = 0, m_already = 0, m_damaged = 0, m_refused = 0,
             m_unreadable = 0;
    bool m_incomplete = false;
};

int RunImport(const Options& o, std::FILE* out, std::FILE* err) {
    if (o.words.empty()) {
        std::fputs(kUsage, err);
        return kDeskFailed;
    }
    bool created = false;
    if (!OpenForCommand(o, &created, err)) return kDeskFailed;
    std::unique_ptr<Store> store = PreparedStore(o, err);
    if (!store) return kDeskFailed;
    Intake intake(o.CatalogueLocation(), *store, o.maxPackage);
    RedactionKey key;
    if (!LoadRedactionKey(o, &key, &intake, err)) return kDeskFailed;
    Import import(intake, IntakeFields{o.ticket, o.technician}, out, err);
    for (const std::string& path : o.words) import.Path(path);
    return import.Finish();
}

// A whole number from 0, as --older-than and --keep-last take it.
bool ParseDays(const std::string& text, int64_t* value) {
    if (text.empty() || text.size() > 9 ||
        text.find_first_not_of("0123456789") != std::string::npos) {
        return false;
    }
    *value = std::strtoll(text.c_str(), nullptr, 10);
    return true;
}

int RunPurge(const Options& o, std::FILE* out, std::FILE* err) {
    int64_t days = 0, keepLast = 0;
    if (!o.words.empty()) {
        std::fputs(kUsage, err);
        return kDeskFailed;
    }
    if (o.olderThan.empty()) {
        std::fputs("trawler-desk purge: --older-than DAYS is needed\n", err);
        return kDeskFailed;
    }
    if (!ParseDays(o.olderThan, &days)) {
        std::fprintf(err, "trawler-desk purge: --older-than needs a number of days, not \"%s\"\n",
                     o.olderThan.c_str());
        return kDeskFailed;
    }
    if (!o.keepLast.empty() && !ParseDays(o.keepLast, &keepLast)) {
        std::fprintf(err, "trawler-desk purge: --keep-last needs a number of visits, not \"%s\"\n",
                     o.keepLast.c_str());
        return kDeskFailed;
    }
    bool created = false;
    std::unique_ptr<Catalogue> catalogue = OpenForCommand(o, &created, err);
    if (!catalogue) return kDeskFailed;
    PurgeOptions options;
    const std::time_t before = std::time(nullptr) - static_cast<std::time_t>(days) * 86400;
    std::tm utc{};
    gmtime_r(&before, &utc);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc);
    options.before = text;
    options.keepLast = keepLast;
    // Through the store's interface, so a purge removes objects from a bucket as well.
    std::unique_ptr<Store> store = PreparedStore(o, err);
    if (!store) return kDeskFailed;
    std::string error;
    const int64_t deleted = Purge(*catalogue, *store, options, out, &error);
    if (deleted < 0) {
        std::fprintf(err, "trawler-desk: %s\n", error.c_str());
        return kDeskFailed;
    }
    const std::string kept =
        keepLast > 0 ? ", but each unit's " + std::to_string(keepLast) + " newest visits kept" : "";
    std::fprintf(out, "%lld package%s purged: received before %s%s\n",
                 static_cast<long long>(deleted), deleted == 1 ? "" : "s", text, kept.c_str());
    return kDeskOk;
}

// A page of the audit log, one entry a line: id, time, who, action, subject, address, separated
// by tabs. A full page says on stderr how to ask for the next.
int RunAudit(const Options& o, std::FILE* out, std::FILE* err) {
    AuditQuery query;
    if (!o.words.empty()) {
        std::fputs(kUsage, err);
        return kDeskFailed;
    }
    if (!o.since.empty() && !ParseUtcBound(o.since, false, &query.since)) {
        std::fprintf(err,
                     "trawler-desk audit: --since needs a UTC date (2026-12-07) or time "
                     "(2026-12-07T13:38:00Z), not \"%s\"\n",
                     o.since.c_str());
        return kDeskFailed;
    }
    const auto number = [err](const char* name, const std::string& text, int64_t least,
                              int64_t* value) {
        if (text.empty() || (ParseDays(text, value) && *value >= least)) return true;
        std::fprintf(err, "trawler-desk audit: %s needs a number from %lld, not \"%s\"\n", name,
                     static_cast<long long>(least), text.c_str());
        return false;
    };
    if (!number("--limit", o.limit, 1, &query.limit) ||
        !number("--after", o.after, 0, &query.after)) {
        return kDeskFailed;
    }
    bool created = false;
    std::unique_ptr<Catalogue> catalogue = OpenForCommand(o, &created, err);
    if (!catalogue) return kDeskFailed;
    std::vector<AuditEntry> entries;
    if (!catalogue->ReadAudit(query, &entries)) {
        std::fprintf(err, "trawler-desk: cannot read the audit log: %s\n",
                     catalogue->Error().c_str());
        return kDeskFailed;
    }
    for (const AuditEntry& e : entries) {
        std::fprintf(out, "%lld\t%s\t%s\t%s\t%s\t%s\n", static_cast<long long>(e.id), e.at.c_str(),
                     e.who.c_str(), e.action.c_str(), e.subject.c_str(), e.address.c_str());
    }
    if (static_cast<int64_t>(entries.size()) == query.limit) {
        std::fflush(out);
        std::fprintf(err, "trawler-desk audit: more may follow: --after %lld\n",
                     static_cast<long long>(entries.back().id));
    }
    return kDeskOk;
}

}  // namespace

int RunDesk(const std::vector<std::string>& args, std::FILE* out, std::FILE* err) {
    const std::string command = args.empty() ? "" : args[0];
    // Not in the usage: the server starts itself this way to replay a recording it received.
    if (command == "replay-recording" && args.size() == 2) return RunReplayChild(args[1], out, err);
    if (command == "--help" || command == "help") {
        std::fputs(kUsage, out);
        return kDeskOk;
    }
    if (command != "serve" && command != "token" && command != "import" && command != "purge" &&
        command != "audit") {
        std::fputs(kUsage, err);
        return kDeskFailed;
    }
    Options options;
    std::string error;
    if (!ParseOptions(args, 1, &options, &error)) {
        std::fprintf(err, "trawler-desk %s: %s\n%s", command.c_str(), error.c_str(), kUsage);
        return kDeskFailed;
    }
    if (command == "serve") return RunServe(options, out, err);
    if (command == "token") return RunToken(options, out, err);
    if (command == "purge") return RunPurge(options, out, err);
    if (command == "audit") return RunAudit(options, out, err);
    return RunImport(options, out, err);
}

}  // namespace trawler::desk
