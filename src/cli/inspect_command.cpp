// trawler-cli inspect and extract over the package reader.
#include "cli/inspect_command.h"

#include "output/package_extract.h"
#include "output/package_reader.h"
#include "output/package_walk.h"
#include "cli/usage.h"
#include "output/package_report.h"
#include "platform/file_ops.h"

namespace trawler {

namespace {

constexpr char kInspectUsageText[] =
    "usage: trawler-cli inspect PATH... [--json]\n"
    "  PATH    a .zlg package, or a folder: the .zlg files in it and in its subfolders\n"
    "          (suffix in any case), in byte order of their names\n"
    "  --json  JSON instead of text\n"
    "One package named alone gets the full report. Several paths, or a folder, get one line\n"
    "per package and a count at the end; with --json, one JSON object per line and the count\n"
    "on standard error. Exit 0: every package valid; 1: a package damaged; 2: wrong arguments,\n"
    "a file that cannot be read, or a path that names no package.\n";
constexpr char kExtractUsageText[] =
    "usage: trawler-cli extract FILE.zlg --to DIR\n"
    "  checks the package, then writes container.bin and one file per chunk into DIR (made\n"
    "  when missing). Exit 0: written; 1: the package is damaged or a file cannot be\n"
    "  written (nothing is left behind); 2: wrong arguments or the package cannot be read.\n";
constexpr char kNoPackageText[] = "%s: no .zlg package in this folder or its subfolders\n";
constexpr char kCannotListText[] = "%s: cannot list this folder: %s\n";

int ExitCodeFor(const PackageReport& report) {
    switch (VerdictOf(report)) {
        case PackageVerdict::kValid:
            return kInspectOk;
        case PackageVerdict::kUnreadable:
            return kInspectUsage;
        case PackageVerdict::kDamaged:
            break;
    }
    return kInspectDamaged;
}

void PrintProblem(std::FILE* err, const std::string& path, const PackageReport& report) {
    std::string message = EscapeForTerminal(report.error.message);
    std::fprintf(err, "%s: %s [%s]\n", EscapeForTerminal(path).c_str(), message.c_str(),
                 report.error.kind.c_str());
}

// Inspects many packages one after the other. Each report is printed as soon as it is read and
// dropped; what stays is the tally, and the sorted names in the folders being walked.
class BatchInspect {
  public:
    BatchInspect(bool json, std::FILE* out, std::FILE* err)
        : m_json(json), m_out(out), m_err(err) {}

    void Inspect(const std::string& path);
    int Finish();

  private:
    void Package(const std::string& path);
    void Unreachable(const std::string& path);
    void Report(const std::string& path, const PackageReport& report);

    bool m_json;
    std::FILE* m_out;
    std::FILE* m_err;
    uint64_t m_valid = 0;
    uint64_t m_damaged = 0;
    uint64_t m_unreadable = 0;
    bool m_incomplete = false;  // a folder held no package, or could not be listed
};

void BatchInspect::Inspect(const std::string& path) {
    if (!IsFolder(path)) {
        // Anything else is read as a package, so a missing file is named with its problem.
        Package(path);
        return;
    }
    PackageWalk walk;
    walk.package = [this](const std::string& package, bool nameUsable) {
        if (nameUsable) {
            Package(package);
        } else {
            Unreachable(package);
        }
    };
    walk.unlisted = [this](const std::string& folder, const std::string& reason) {
        std::fprintf(m_err, kCannotListText, EscapeForTerminal(folder).c_str(), reason.c_str());
        m_incomplete = true;
    };
    if (WalkPackages(path, walk) == 0) {
        std::fprintf(m_err, kNoPackageText, EscapeForTerminal(path).c_str());
        m_incomplete = true;
    }
}

void BatchInspect::Package(const std::string& path) {
    PackageReport report;
    ReadPackage(path, &report);
    Report(path, report);
}

// A package whose name no narrow path can carry (see FolderEntry) is named as unreadable, never
// left out: a check that passed over it would say all was well.
void BatchInspect::Unreachable(const std::string& path) {
    PackageReport report;
    report.error = {"open-failed", "cannot open \"" + path + "\": " + kNameOutsideCodePageText, "",
                    0};
    Report(path, report);
}

void BatchInspect::Report(const std::string& path, const PackageReport& report) {
    if (m_json) {
        std::fputs(FormatReportJson(report, path).c_str(), m_out);
        if (!report.valid) PrintProblem(m_err, path, report);
    } else {
        std::fputs(FormatReportLine(report, path).c_str(), m_out);
    }
    switch (VerdictOf(report)) {
        case PackageVerdict::kValid:
            ++m_valid;
            break;
        case PackageVerdict::kDamaged:
            ++m_damaged;
            break;
        case PackageVerdict::kUnreadable:
            ++m_unreadable;
            break;
    }
}

int BatchInspect::Finish() {
    uint64_t total = m_valid + m_damaged + m_unreadable;
    // In JSON every line of standard output is a package, so the count goes beside the problems.
    std::fprintf(
        m_json ? m_err : m_out, "%llu package%s: %llu valid, %llu damaged, %llu unreadable\n",
        static_cast<unsigned long long>(total), total == 1 ? "" : "s",
        static_cast<unsigned long long>(m_valid), static_cast<unsigned long long>(m_damaged),
        static_cast<unsigned long long>(m_unreadable));
    // A check that could not read everything it was asked to is not an answer about the
    // packages, as with one unreadable file; damage is only reported when all was read.
    if (m_unreadable > 0 || m_incomplete) return kInspectUsage;
    return m_damaged > 0 ? kInspectDamaged : kInspectOk;
}

int InspectOne(const std::string& path, bool json, std::FILE* out, std::FILE* err) {
    PackageReport report;
    ReadPackage(path, &report);
    if (json) {
        std::fputs(FormatReportJson(report, path).c_str(), out);
    } else if (report.valid) {
        std::fputs(FormatReportText(report, path).c_str(), out);
    }
    if (!report.valid) PrintProblem(err, path, report);
    return ExitCodeFor(report);
}

}  // namespace

int RunInspect(const std::vector<std::string>& args, std::FILE* out, std::FILE* err) {
    bool json = false;
    std::vector<std::string> paths;
    for (const std::string& arg : args) {
        if (arg == "--help") {
            std::fputs(kInspectUsageText, out);
            return kInspectOk;
        }
        if (arg == "--json") {
            json = true;
        } else if (arg.size() > 1 && arg[0] == '-') {
            PrintUnknownArgument(err, "inspect", arg, kInspectUsageText);
            return kInspectUsage;
        } else {
            paths.push_back(arg);
        }
    }
    if (paths.empty()) {
        std::fputs(kInspectUsageText, err);
        return kInspectUsage;
    }
    // The form follows from the arguments alone, never from what a folder holds, so a script
    // gets the same form from a folder of one package as from a folder of many.
    if (paths.size() == 1 && !IsFolder(paths.front())) {
        return InspectOne(paths.front(), json, out, err);
    }
    BatchInspect batch(json, out, err);
    for (const std::string& path : paths) batch.Inspect(path);
    return batch.Finish();
}

int RunExtract(const std::vector<std::string>& args, std::FILE* out, std::FILE* err) {
    std::string path;
    std::string folder;
    bool haveFolder = false;
    for (size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "--help") {
            std::fputs(kExtractUsageText, out);
            return kInspectOk;
        }
        if (args[i] == "--to" && i + 1 < args.size() && !haveFolder) {
            folder = args[++i];
            haveFolder = true;
        } else if (path.empty() && !args[i].empty() && args[i][0] != '-') {
            path = args[i];
        } else if (args[i].size() > 1 && args[i][0] == '-' && args[i] != "--to") {
            PrintUnknownArgument(err, "extract", args[i], kExtractUsageText);
            return kInspectUsage;
        } else {
            std::fputs(kExtractUsageText, err);
            return kInspectUsage;
        }
    }
    if (path.empty() || !haveFolder || folder.empty()) {
        std::fputs(kExtractUsageText, err);
        return kInspectUsage;
    }
    PackageReport report;
    std::vector<std::string> written;
    bool ok = ExtractPackage(path, folder, &report, &written);
    for (const std::string& file : written) {
        std::fprintf(out, "%s\n", EscapeForTerminal(file).c_str());
    }
    if (ok) return kInspectOk;
    PrintProblem(err, path, report);
    return ExitCodeFor(report);
}

}  // namespace trawler
