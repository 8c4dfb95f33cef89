// trawler-cli redact over the package and recording redaction.
#include "cli/redact_command.h"

#include <cstring>

#include "cli/recording_redact.h"
#include "cli/usage.h"
#include "output/container_format.h"
#include "output/package_redact.h"
#include "output/package_report.h"
#include "output/package_walk.h"
#include "output/redaction.h"
#include "platform/console_host.h"
#include "platform/file_ops.h"
#include "platform/owned_file.h"

namespace trawler {

namespace {

constexpr char kRedactUsageText[] =
    "usage: trawler-cli redact IN --out OUT [--key-file KEY] [--map FILE]\n"
    "  IN is a .zlg package or a recording (collect --record); OUT gets the same with the\n"
    "  customer, comment and PC texts, and the printer names, replaced by placeholders made\n"
    "  with the key. Without --key-file a new key is written to OUT.key. --map writes which\n"
    "  placeholder stands for which text. Nothing is ever replaced. Exit 0 written, 1 damaged\n"
    "  input or an output that could not be written, 2 wrong arguments, an unreadable input or\n"
    "  key, or an output that exists\n";

bool TakeValue(const std::vector<std::string>& args, size_t* i, std::string* value) {
    if (*i + 1 >= args.size()) return false;
    *value = args[++*i];
    return true;
}

bool IsPackage(const std::string& path) {
    if (HasPackageSuffix(path)) return true;
    OwnedFile file(std::fopen(path.c_str(), "rb"));
    char magic[kMagicSize] = {};
    return file && std::fread(magic, 1, kMagicSize, file.Get()) == kMagicSize &&
           std::memcmp(magic, kPackageMagic, kMagicSize) == 0;
}

int Fail(std::FILE* err, int code, const std::string& message) {
    std::fprintf(err, "trawler-cli redact: %s\n", EscapeForTerminal(message).c_str());
    return code;
}

struct RedactRequest {
    std::string in, out, key, map;
    bool newKey = false;
};

constexpr int kGoOn = -1;

// The arguments into *r: kGoOn, or the exit status (help shown, or refused).
int ParseRedactArgs(const std::vector<std::string>& args, std::FILE* out, std::FILE* err,
                    RedactRequest* r) {
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        bool ok = true;
        if (a == "--help" || a == "-h") {
            std::fputs(kRedactUsageText, out);
            return kRedactWritten;
        } else if (a == "--out") {
            ok = TakeValue(args, &i, &r->out);
        } else if (a == "--key-file") {
            ok = TakeValue(args, &i, &r->key);
        } else if (a == "--map") {
            ok = TakeValue(args, &i, &r->map);
        } else if (a.size() > 1 && a[0] == '-') {
            PrintUnknownArgument(err, "redact", a, kRedactUsageText);
            return kRedactRefused;
        } else if (r->in.empty()) {
            r->in = a;
        } else {
            ok = false;
        }
        if (!ok) {
            std::fputs(kRedactUsageText, err);
            return kRedactRefused;
        }
    }
    if (r->in.empty() || r->out.empty()) {
        std::fputs(kRedactUsageText, err);
        return kRedactRefused;
    }
    r->newKey = r->key.empty();
    if (r->newKey) r->key = r->out + ".key";
    return kGoOn;
}

// Why the names cannot be used, or empty. Every name is checked before anything is read, so a
// refusal costs no work and leaves nothing behind.
std::string RefusedNames(const RedactRequest& r) {
    for (const std::string* path : {&r.out, &r.map, r.newKey ? &r.key : nullptr}) {
        if (path != nullptr && !path->empty() && PathExists(*path)) {
            return *path + " exists; redact never replaces a file" +
                   (path == &r.key ? " (give it as --key-file to use that key)" : "");
        }
    }
    if (r.map == r.out || (r.newKey && r.map == r.key)) {
        return "the map and the output need names of their own";
    }
    if (!PathExists(r.in)) return "cannot open " + r.in;
    return "";
}

// The redacted copy, the map and a new key, staged and moved into place together.
RedactOutcome WriteRedacted(const RedactRequest& r, const RedactionKey& key, PlaceholderBook& book,
                            std::FILE* err, std::string* error) {
    StagedFiles staged;
    RedactOutcome outcome;
    std::string temp;
    if (IsPackage(r.in)) {
        ConsoleHost host(nullptr, err);
        outcome = staged.Stage(r.out, &temp, error) ? RedactPackage(host, r.in, temp, book, error)
                                                    : RedactOutcome::kExists;
    } else {
        outcome = RedactRecording(r.in, r.out, staged, book, error);
    }
    if (outcome == RedactOutcome::kWritten && !r.map.empty() &&
        !(staged.Stage(r.map, &temp, error) &&
          WriteNewTextFile(temp, book.MapText(), true, error))) {
        outcome = RedactOutcome::kWriteFailed;
    }
    if (outcome == RedactOutcome::kWritten && r.newKey &&
        !(staged.Stage(r.key, &temp, error) && key.WriteNew(temp, error))) {
        outcome = RedactOutcome::kWriteFailed;
    }
    if (outcome == RedactOutcome::kWritten && !staged.Commit(error)) {
        outcome = RedactOutcome::kWriteFailed;
    }
    return outcome;
}

}  // namespace

int RunRedact(const std::vector<std::string>& args, std::FILE* out, std::FILE* err) {
    RedactRequest r;
    const int parsed = ParseRedactArgs(args, out, err, &r);
    if (parsed != kGoOn) return parsed;
    const std::string refused = RefusedNames(r);
    if (!refused.empty()) return Fail(err, kRedactRefused, refused);

    RedactionKey key;
    std::string error;
    if (!(r.newKey ? key.Generate(&error) : key.Load(r.key, &error))) {
        return Fail(err, kRedactRefused, error);
    }
    PlaceholderBook book(key);
    switch (WriteRedacted(r, key, book, err, &error)) {
        case RedactOutcome::kWritten:
            break;
        case RedactOutcome::kUnreadable:
        case RedactOutcome::kExists:
            return Fail(err, kRedactRefused, error);
        default:
            return Fail(err, kRedactFailed, error);
    }
    std::fprintf(out, "%s\n", EscapeForTerminal(r.out).c_str());
    if (!r.map.empty()) std::fprintf(out, "%s\n", EscapeForTerminal(r.map).c_str());
    if (r.newKey) {
        std::fprintf(out, "%s\n", EscapeForTerminal(r.key).c_str());
        // The warning follows the paths also when stdout is a pipe and stderr is not.
        std::fflush(out);
        std::fprintf(err,
                     "trawler-cli redact: a new key is in %s: keep it (and any map) to yourself; "
                     "give it as --key-file to get the same placeholders for the next ones\n",
                     EscapeForTerminal(r.key).c_str());
    }
    return kRedactWritten;
}

}  // namespace trawler
