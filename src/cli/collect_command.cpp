// collect: one acquisition run from the command line, with the same messages as the wizard.
#include "cli/collect_command.h"

#include <algorithm>
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
#include "link/link_settings.h"
#include "platform/console_host.h"
#include "platform/system.h"
#include "sim/device_description.h"
#include "sim/emulated_spooler.h"

namespace trawler {

namespace {

constexpr int kExitSaved = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;

constexpr char kCollectUsage[] =
    "usage: trawler-cli collect --folder DIR [--printer NAME] [--customer TEXT]\n"
    "                           [--comment TEXT] [--demo] [--simulate] [--device DEVICE.json]\n"
    "                           [--setting NAME=VALUE]...\n"
    "  --folder DIR          where the .zlg package is saved (must exist)\n"
    "  --printer NAME        the printer to read (default: the first online PV-730 printer)\n"
    "  --customer TEXT       customer name (stored as \"Comm\")\n"
    "  --comment TEXT        comment (stored as \"Cust\")\n"
    "  --demo                demonstration mode: no printer is read\n"
    "  --simulate            read the built-in emulated PV-730 printer\n"
    "  --device FILE         read an emulated printer described by FILE (docs/DEVICE.md)\n"
    "  --setting NAME=VALUE  EmptyReadCount, OneReadByte, ReadWaitMillisec or\n"
    "                        WaitAfterSendMillisec (defaults 200, 516, 100, 500)\n";

constexpr char kPrintersUsage[] =
    "usage: trawler-cli printers [--simulate | --device DEVICE.json]\n";

struct SpoolerChoice {
    bool simulate = false;
    std::string devicePath;
};

// The spooler a command talks to: an emulated printer when asked for, else the PC's own.
std::unique_ptr<Spooler> MakeSpooler(const SpoolerChoice& choice, Host& host, std::string* error) {
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
            std::fprintf(stderr, "trawler-cli printers: unknown argument \"%s\"\n%s",
                         args[i].c_str(), kPrintersUsage);
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
};

// False, with the usage shown, for an argument the command does not take.
bool ParseCollectArgs(const std::vector<std::string>& args, CollectRequest* request) {
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
                std::fprintf(stderr, "trawler-cli collect: %s\n%s", error.c_str(), kCollectUsage);
                return false;
            }
        } else {
            std::fprintf(stderr, "trawler-cli collect: unknown argument \"%s\"\n%s", a.c_str(),
                         kCollectUsage);
            return false;
        }
        if (!ok) {
            std::fprintf(stderr, "trawler-cli collect: %s needs a value\n%s", a.c_str(),
                         kCollectUsage);
            return false;
        }
    }
    if (r.folder.empty()) {
        std::fprintf(stderr, "trawler-cli collect: --folder is required\n%s", kCollectUsage);
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

}  // namespace

int RunCollect(const std::vector<std::string>& args) {
    if (AsksForHelp(args)) {
        std::fputs(kCollectUsage, stdout);
        return kExitSaved;
    }
    CollectRequest request;
    if (!ParseCollectArgs(args, &request)) return kExitUsage;

    bool drawProgress = TRAWLER_ISATTY(TRAWLER_FILENO(stderr)) != 0;
    ConsoleHost host(drawProgress ? stderr : nullptr);
    std::string error;
    std::unique_ptr<Spooler> spooler;
    if (request.demo && !request.choice.simulate && request.choice.devicePath.empty()) {
        // Demonstration mode never talks to a printer: an emulated spooler stands in unused.
        spooler = std::make_unique<EmulatedSpooler>(DefaultDevice(), host);
    } else {
        spooler = MakeSpooler(request.choice, host, &error);
    }
    if (!spooler) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return kExitUsage;
    }

    Session session(*spooler, host);
    ApplySettings(session.m_link, request.settings);
    session.ResetPageHistory();
    session.m_bDemo = request.demo;
    if (!ChoosePrinter(request, *spooler, host, &session)) return kExitFailed;

    LogRun run(session);
    run.m_strFolder = request.folder;
    run.m_strCustomer = request.customer;
    run.m_strComment = request.comment;
    ReadingView view;
    int32_t page = run.Run(view);
    host.FinishProgress();
    if (page != kPageFinish) return kExitFailed;
    std::printf("%s\n", session.m_strSavedPath.c_str());
    return kExitSaved;
}

}  // namespace trawler
