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

}  // namespace

int RunRedact(const std::vector<std::string>& args, std::FILE* out, std::FILE* err) {
    std::string in, outPath, keyPath, mapPath;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        bool ok = true;
        if (a == "--help" || a == "-h") {
            std::fputs(kRedactUsageText, out);
            return kRedactWritten;
        } else if (a == "--out") {
            ok = TakeValue(args, &i, &outPath);
        } else if (a == "--key-file") {
            ok = TakeValue(args, &i, &keyPath);
        } else if (a == "--map") {
            ok = TakeValue(args, &i, &mapPath);
        } else if (a.size() > 1 && a[0] == '-') {
            PrintUnknownArgument(err, "redact", a, kRedactUsageText);
            return kRedactRefused;
        } else if (in.empty()) {
            in = a;
        } else {
            ok = false;
        }
        if (!ok) {
            std::fputs(kRedactUsageText, err);
            return kRedactRefused;
        }
    }
    if (in.empty() || outPath.empty()) {
        std::fputs(kRedactUsageText, err);
        return kRedactRefused;
    }
    const bool newKey = keyPath.empty();
    if (newKey) keyPath = outPath + ".key";
    // Every name is checked before anything is read, so a refusal costs no work and leaves
    // nothing behind.
    for (const std::string* path : {&outPath, &mapPath, newKey ? &keyPath : nullptr}) {
        if (path != nullptr && !path->empty() && PathExists(*path)) {
            return Fail(err, kRedactRefused,
                        *path + " exists; redact never replaces a file" +
                            (path == &keyPath ? " (give it as --key-file to use that key)" : ""));
        }
    }
    if (mapPath == outPath || (newKey && mapPath == keyPath)) {
        return Fail(err, kRedactRefused, "the map and the output need names of their own");
    }
    if (!PathExists(in)) return Fail(err, kRedactRefused, "cannot open " + in);

    RedactionKey key;
    std::string error;
    if (!(newKey ? key.Generate(&error) : key.Load(keyPath, &error))) {
        return Fail(err, kRedactRefused, error);
    }
    PlaceholderBook book(key);
    StagedFiles staged;
    RedactOutcome outcome;
    if (IsPackage(in)) {
        std::string temp;
        ConsoleHost host(nullptr, err);
        outcome = staged.Stage(outPath, &temp, &error) ? RedactPackage(host, in, temp, book, &error)
                                                       : RedactOutcome::kExists;
    } else {
        outcome = RedactRecording(in, outPath, staged, book, &error);
    }
    if (outcome == RedactOutcome::kWritten && !mapPath.empty()) {
        std::string temp;
        if (!staged.Stage(mapPath, &temp, &error) ||
            !WriteNewTextFile(temp, book.MapText(), true, &error)) {
            outcome = RedactOutcome::kWriteFailed;
        }
    }
    if (outcome == RedactOutcome::kWritten && newKey) {
        std::string temp;
        if (!staged.Stage(keyPath, &temp, &error) || !key.WriteNew(temp, &error)) {
            outcome = RedactOutcome::kWriteFailed;
        }
    }
    if (outcome == RedactOutcome::kWritten && !staged.Commit(&error)) {
        outcome = RedactOutcome::kWriteFailed;
    }
    switch (outcome) {
        case RedactOutcome::kWritten:
            break;
        case RedactOutcome::kUnreadable:
        case RedactOutcome::kExists:
            return Fail(err, kRedactRefused, error);
        default:
            return Fail(err, kRedactFailed, error);
    }
    std::fprintf(out, "%s\n", EscapeForTerminal(outPath).c_str());
    if (!mapPath.empty()) std::fprintf(out, "%s\n", EscapeForTerminal(mapPath).c_str());
    if (newKey) {
        std::fprintf(out, "%s\n", EscapeForTerminal(keyPath).c_str());
        std::fprintf(err,
                     "trawler-cli redact: a new key is in %s: keep it (and any map) to yourself; "
                     "give it as --key-file to get the same placeholders for the next ones\n",
                     EscapeForTerminal(keyPath).c_str());
    }
    return kRedactWritten;
}

}  // namespace trawler
