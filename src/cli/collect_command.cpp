// collect: one acquisition run from the command line, with the same messages as the wizard.
#include "cli/collect_command.h"
#include "cli/usage.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <memory>
#include <optional>

#if defined(_WIN32)
#include <io.h>
#define TRAWLER_ISATTY _isatty
#define TRAWLER_FILENO _fileno
#else
#include <unistd.h>
#define TRAWLER_ISATTY isatty
#define TRAWLER_FILENO fileno
#endif

#include "acquire/log_run.h"
#include "acquire/printer_search.h"
#include "acquire/session.h"
#include "cli/collect_progress.h"
#include "link/link_settings.h"
#include "platform/console_host.h"
#include "platform/file_ops.h"
#include "platform/system.h"
#include "sim/device_description.h"
#include "sim/emulated_spooler.h"
#include "sim/recording_spooler.h"

namespace trawler {

namespace {

constexpr int kExitSaved = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;

constexpr char kCollectUsage[] =
    "usage: trawler-cli collect --folder DIR [--printer NAME] [--customer TEXT]\n"
    "                           [--comment TEXT] [--demo] [--simulate] [--device DEVICE.json]\n"
    "                           [--setting NAME=VALUE]... [--progress MODE]\n"
    "                           [--record FILE.json]\n"
    "  --folder DIR          where the .zlg package is saved: a folder that exists and can be\n"
    "                        written, checked before the printer is read\n"
    "  --printer NAME        the printer to read (default: the first online PV-730 printer)\n"
    "  --customer TEXT       customer name (stored as \"Comm\")\n"
    "  --comment TEXT        comment (stored as \"Cust\")\n"
    "  --demo                demonstration mode: no printer is read\n"
    "  --simulate            read the built-in emulated PV-730 printer\n"
    "  --device FILE         read an emulated printer described by FILE (docs/DEVICE.md)\n"
    "  --record FILE.json    write what the printer answered, read by read, as a device\n"
    "                        description (large answers in files beside it) that --device\n"
    "                        replays; FILE.json must not exist yet; not with --demo\n"
    "  --setting NAME=VALUE  EmptyReadCount, OneReadByte, ReadWaitMillisec or\n"
    "                        WaitAfterSendMillisec (defaults 200, 516, 100, 500)\n"
    "  --progress MODE       auto (default): on a terminal, the phase and, while the log\n"
    "                        streams, its bytes and rate, on stderr; bar: the same when\n"
    "                        stderr is no terminal; lines: a line per phase and LOG lines\n"
    "                        on stdout, then \"OK PATH\" or \"FAIL\" (docs/SUPPORT.md);\n"
    "                        none: no progress\n"
    "Exit status: 0 saved, 1 the run failed, 2 bad arguments, device file or folder.\n";

constexpr char kPrintersUsage[] =
    "usage: trawler-cli printers [--simulate | --device DEVICE.json]\n";

struct SpoolerChoice {
    bool simulate = false;
    std::string devicePath;
};

// The spooler a command talks to: an emulated printer when asked for, else the PC's own.
// `described`: the link settings a device description (a recording) carries.
std::unique_ptr<Spooler> MakeSpooler(const SpoolerChoice& choice, Host& host, std::string* error,
                                     std::optional<LinkSettings>* described = nullptr) {
    if (!choice.simulate && choice.devicePath.empty()) {
        std::unique_ptr<Spooler> spooler = SystemSpooler();
        if (!spooler) {
            *error =
                "This system has no Windows print spooler: use --simulate (the built-in "
                "emulated printer), --device FILE (a described one) or --demo.";
        }
        return spooler;
    }
    DeviceDescription device = DefaultDevice();
    if (!choice.devicePath.empty()) {
        std::string loadError;
        device = LoadDeviceDescription(choice.devicePath, &loadError);
        if (!loadError.empty()) {
            *error = "Cannot use the device description " + choice.devicePath + ": " + loadError;
            return nullptr;
        }
        if (described != nullptr) *described = device.linkSettings;
    }
    return std::make_unique<EmulatedSpooler>(std::move(device), host);
}

// Takes the value of an option that needs one; false when it is missing.
bool TakeValue(const std::vector<std::string>& args, size_t* i, std::string* value) {
    if (*i + 1 >= args.size()) return false;
    *value = args[++*i];
    return true;
}

bool AsksForHelp(const std::vector<std::string>& args) {
    for (const std::string& a : args) {
        if (a == "--help" || a == "-h") return true;
    }
    return false;
}

}  // namespace

int RunPrinters(const std::vector<std::string>& args) {
    if (AsksForHelp(args)) {
        std::fputs(kPrintersUsage, stdout);
        return kExitSaved;
    }
    SpoolerChoice choice;
    for (size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "--simulate") {
            choice.simulate = true;
        } else if (args[i] == "--device") {
            if (!TakeValue(args, &i, &choice.devicePath)) {
                std::fputs(kPrintersUsage, stderr);
                return kExitUsage;
            }
        } else {
            PrintUnknownArgument(stderr, "printers", args[i], kPrintersUsage);
            return kExitUsage;
        }
    }
    ConsoleHost host;
    std::string error;
    std::unique_ptr<Spooler> spooler = MakeSpooler(choice, host, &error);
    if (!spooler) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return kExitUsage;
    }
    std::vector<PrinterRecord> records;
    if (!spooler->EnumerateLocal(&records)) {
        std::fprintf(stderr, "The print spooler could not list its printers.\n");
        return kExitFailed;
    }
    std::vector<std::string> listed = FindOnlinePv730Printers(*spooler, &IsAnsiLeadByte);
    std::printf("%-32s %-24s %s\n", "PRINTER", "DRIVER", "OFFERED");
    for (const PrinterRecord& r : records) {
        bool offered = false;
        for (const std::string& name : listed) offered = offered || (r.hasName && name == r.name);
        std::printf(
            "%-32s %-24s %s\n", r.hasName ? r.name.c_str() : "(no name)",
            r.hasDriver ? r.driver.c_str() : "(no driver)",
            offered ? "yes" : (IsPv730Candidate(r, &IsAnsiLeadByte) ? "no (not online)" : "no"));
    }
    return listed.empty() ? kExitFailed : kExitSaved;
}

namespace {

// What the command line asks of one collection.
struct CollectRequest {
    SpoolerChoice choice;
    std::string folder, printer, customer, comment;
    bool demo = false;
    LinkSettings settings = DefaultLinkSettings();
    std::vector<std::string> settingTexts;  // as given, to lay over a recording's settings
    ProgressMode progress = ProgressMode::kAuto;
    std::string record;
};

// "--progress MODE" or "--progress=MODE"; false, with the usage shown, without a known mode.
bool TakeProgressMode(const std::vector<std::string>& args, size_t* i, ProgressMode* mode,
                      std::FILE* err) {
    const std::string& a = args[*i];
    std::string text;
    const size_t equals = a.find('=');
    if (equals != std::string::npos) {
        text = a.substr(equals + 1);
    } else if (!TakeValue(args, i, &text)) {
        std::fprintf(err, "trawler-cli collect: %s needs a value\n%s", a.c_str(), kCollectUsage);
        return false;
    }
    if (!ParseProgressMode(text, mode)) {
        std::fprintf(err, "trawler-cli collect: unknown progress mode \"%s\"\n%s", text.c_str(),
                     kCollectUsage);
        return false;
    }
    return true;
}

// False, with the usage shown, for an argument the command does not take.
bool ParseCollectArgs(const std::vector<std::string>& args, CollectRequest* request,
                      std::FILE* err) {
    CollectRequest& r = *request;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        bool ok = true;
        if (a == "--folder") {
            ok = TakeValue(args, &i, &r.folder);
        } else if (a == "--printer") {
            ok = TakeValue(args, &i, &r.printer);
        } else if (a == "--customer") {
            ok = TakeValue(args, &i, &r.customer);
        } else if (a == "--comment") {
            ok = TakeValue(args, &i, &r.comment);
        } else if (a == "--demo") {
            r.demo = true;
        } else if (a == "--simulate") {
            r.choice.simulate = true;
        } else if (a == "--device") {
            ok = TakeValue(args, &i, &r.choice.devicePath);
        } else if (a == "--setting") {
            std::string text, error;
            ok = TakeValue(args, &i, &text);
            if (ok && !ParseLinkSetting(text, &r.settings, &error)) {
                std::fprintf(err, "trawler-cli collect: %s\n%s", error.c_str(), kCollectUsage);
                return false;
            }
            r.settingTexts.push_back(text);
        } else if (a == "--record") {
            ok = TakeValue(args, &i, &r.record);
        } else if (a == "--progress" || a.rfind("--progress=", 0) == 0) {
            if (!TakeProgressMode(args, &i, &r.progress, err)) return false;
        } else {
            PrintUnknownArgument(err, "collect", a, kCollectUsage);
            return false;
        }
        if (!ok) {
            std::fprintf(err, "trawler-cli collect: %s needs a value\n%s", a.c_str(),
                         kCollectUsage);
            return false;
        }
    }
    if (r.folder.empty()) {
        std::fprintf(err, "trawler-cli collect: --folder is required\n%s", kCollectUsage);
        return false;
    }
    // A demonstration reads no printer: a recording of it would replay nothing.
    if (r.demo && !r.record.empty()) {
        std::fprintf(err, "trawler-cli collect: --record needs a printer; --demo reads none\n%s",
                     kCollectUsage);
        return false;
    }
    return true;
}

// The printer the run reads: the demonstration entry, the one named, or the first of the
// wizard's sorted list. False, after the wizard's "not found" text, when there is none.
bool ChoosePrinter(const CollectRequest& r, Spooler& spooler, Host& host, Session* session) {
    if (r.demo) {
        session->SetPrinterName(kDemoPrinterEntry);
    } else if (!r.printer.empty()) {
        session->SetPrinterName(r.printer.c_str());
    } else {
        std::vector<std::string> names = FindOnlinePv730Printers(spooler, &IsAnsiLeadByte);
        if (names.empty()) {
            host.ShowMessage(kPrinterNotFoundText);
            return false;
        }
        session->SetPrinterName(
            std::min_element(names.begin(), names.end(), ListOrderLess)->c_str());
    }
    return true;
}

constexpr char kFolderMissing[] = "trawler-cli collect: the folder %s does not exist\n";
constexpr char kFolderNotAFolder[] = "trawler-cli collect: %s is not a folder\n";
constexpr char kFolderNotWritable[] = "trawler-cli collect: the folder %s cannot be written: %s\n";

// The system's text for a failed file operation, without the line end Windows gives it.
std::string FileErrorText(Host& host, uint32_t code) {
    std::string text = host.ErrorText(code);
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back()))) text.pop_back();
    return text.empty() ? "error " + std::to_string(code) : text;
}

// Checked before the printer is asked anything: otherwise a folder that is missing or cannot be
// written shows only after the whole log was read. A file made and removed again tells what
// the folder's permissions alone do not (access lists, read-only mounts).
bool CheckFolder(const std::string& folder, Host& host, std::FILE* err) {
    std::string probe;
    for (int n = 0; probe.empty() || PathExists(probe); ++n) {
        probe = folder + PathSeparator() + ".trawler-folder-check-" + std::to_string(n);
    }
    std::FILE* file = OpenNewFile(probe);
    if (file == nullptr) {
        const int cause = errno;
        const uint32_t code = host.LastError();
        // Windows says "not found" for a path through a file, POSIX "not a folder"; a folder
        // that takes no new files (/proc) may say "not found" too, yet it is a folder.
        if ((cause == ENOENT || cause == ENOTDIR) && !PathExists(folder)) {
            std::fprintf(err, kFolderMissing, folder.c_str());
        } else if ((cause == ENOENT || cause == ENOTDIR) && !IsFolder(folder)) {
            std::fprintf(err, kFolderNotAFolder, folder.c_str());
        } else {
            std::fprintf(err, kFolderNotWritable, folder.c_str(),
                         FileErrorText(host, code).c_str());
        }
        return false;
    }
    std::fclose(file);
    if (std::remove(probe.c_str()) != 0) {
        std::fprintf(err, kFolderNotWritable, folder.c_str(),
                     FileErrorText(host, host.LastError()).c_str());
        return false;
    }
    return true;
}

bool DrawsStatusLine(ProgressMode mode, std::FILE* err) {
    return mode == ProgressMode::kBar ||
           (mode == ProgressMode::kAuto && TRAWLER_ISATTY(TRAWLER_FILENO(err)) != 0);
}

// A recording's link settings first, the command line's over them: the replay then reads in
// the blocks and with the patience the recorded run had.
void TakeDescribedSettings(const std::optional<LinkSettings>& described, CollectRequest* r) {
    if (!described) return;
    r->settings = *described;
    for (const std::string& text : r->settingTexts) ParseLinkSetting(text, &r->settings, nullptr);
}

// --record: the conversation with the printer, written as a device description when the
// collection ends, however it ends.
class CollectRecording {
  public:
    CollectRecording(std::string path, std::FILE* err) : m_path(std::move(path)), m_err(err) {}
    ~CollectRecording() {
        if (m_path.empty() || m_ended) return;
        if (!m_recorder) {
            std::fprintf(m_err, "trawler-cli collect: no recording was made\n");
            return;
        }
        try {
            End(kExitFailed, "failed");
        } catch (...) {
        }
    }
    CollectRecording(const CollectRecording&) = delete;
    CollectRecording& operator=(const CollectRecording&) = delete;

    // Checked before the printer is read: a recording never replaces an earlier one.
    bool PathFree() const {
        if (m_path.empty() || !PathExists(m_path)) return true;
        std::fprintf(m_err, "trawler-cli collect: %s already exists; record into a new file\n",
                     m_path.c_str());
        return false;
    }
    // The spooler the collection talks to: a recorder in front of `spooler` when asked for.
    Spooler& Wrap(Spooler& spooler, const LinkSettings& settings) {
        if (m_path.empty()) return spooler;
        m_recorder = std::make_unique<RecordingSpooler>(spooler, m_path);
        m_recorder->SetLinkSettings(settings);
        return *m_recorder;
    }
    // Writes the description; the exit code, 1 when the recording could not be written whole.
    int End(int exitCode, const std::string& outcome) {
        if (!m_recorder || m_ended) return exitCode;
        m_ended = true;
        std::string error;
        if (m_recorder->WriteDescription(outcome, &error)) return exitCode;
        std::fprintf(m_err, "trawler-cli collect: the recording is incomplete: %s\n",
                     error.c_str());
        return kExitFailed;
    }

  private:
    std::string m_path;
    std::FILE* m_err;
    std::unique_ptr<RecordingSpooler> m_recorder;
    bool m_ended = false;
};

// The spooler a collection reads; null, with *error set, when it cannot be had.
std::unique_ptr<Spooler> CollectSpooler(const CollectRequest& request, Host& host,
                                        std::string* error,
                                        std::optional<LinkSettings>* described) {
    if (request.demo && !request.choice.simulate && request.choice.devicePath.empty()) {
        // Demonstration mode never talks to a printer: an emulated spooler stands in unused.
        return std::make_unique<EmulatedSpooler>(DefaultDevice(), host);
    }
    return MakeSpooler(request.choice, host, error, described);
}

}  // namespace

int RunCollect(const std::vector<std::string>& args, std::FILE* out, std::FILE* err) {
    if (AsksForHelp(args)) {
        std::fputs(kCollectUsage, out);
        return kExitSaved;
    }
    CollectRequest request;
    if (!ParseCollectArgs(args, &request, err)) return kExitUsage;

    ConsoleHost host(DrawsStatusLine(request.progress, err) ? err : nullptr, err);
    StatusLineView statusLine(host);
    ProgressLinesView lines(out);
    const bool following = request.progress == ProgressMode::kLines;
    // Once the arguments are understood, a front end following the lines gets a last line.
    auto fail = [&](int exitCode) {
        if (following) lines.Failed();
        return exitCode;
    };
    CollectRecording recording(request.record, err);
    if (!CheckFolder(request.folder, host, err) || !recording.PathFree()) return fail(kExitUsage);
    std::string error;
    std::optional<LinkSettings> described;
    std::unique_ptr<Spooler> spooler = CollectSpooler(request, host, &error, &described);
    if (!spooler) {
        std::fprintf(err, "%s\n", error.c_str());
        return fail(kExitUsage);
    }
    TakeDescribedSettings(described, &request);
    Spooler& printers = recording.Wrap(*spooler, request.settings);

    Session session(printers, host);
    ApplySettings(session.m_link, request.settings);
    session.m_bDemo = request.demo;
    if (!ChoosePrinter(request, printers, host, &session)) {
        return recording.End(fail(kExitFailed), "failed: no printer to read");
    }

    LogRun run(session);
    run.m_strFolder = request.folder;
    run.m_strCustomer = request.customer;
    run.m_strComment = request.comment;
    const RunResult result = run.Run(following ? static_cast<ReadingView&>(lines) : statusLine);
    host.FinishStatus();
    if (!result.Saved()) return recording.End(fail(kExitFailed), "failed");
    // The recording is part of what was asked: "OK" and exit 0 only once it is written too.
    const std::string& saved = result.packagePath;
    if (recording.End(kExitSaved, "saved " + saved) != kExitSaved) {
        std::fprintf(err, "trawler-cli collect: the package itself was saved: %s\n", saved.c_str());
        return fail(kExitFailed);
    }
    if (following) {
        lines.Saved(saved);
    } else {
        std::fprintf(out, "%s\n", saved.c_str());
    }
    return kExitSaved;
}

}  // namespace trawler
