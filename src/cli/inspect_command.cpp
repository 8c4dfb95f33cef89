// trawler-cli inspect and extract over the package reader.
#include "cli/inspect_command.h"

#include "output/package_extract.h"
#include "output/package_reader.h"
#include "output/package_report.h"

namespace trawler {

namespace {

constexpr char kInspectUsageText[] = "usage: trawler-cli inspect FILE.zlg [--json]\n";
constexpr char kExtractUsageText[] = "usage: trawler-cli extract FILE.zlg --to DIR\n";

int ExitCodeFor(const PackageReport& report) {
    if (report.valid) return kInspectOk;
    if (report.error.kind == "open-failed" || report.error.kind == "read-failed") {
        return kInspectUsage;
    }
    return kInspectDamaged;
}

void PrintProblem(std::FILE* err, const std::string& path, const PackageReport& report) {
    std::string message = EscapeForTerminal(report.error.message);
    std::fprintf(err, "%s: %s [%s]\n", EscapeForTerminal(path).c_str(), message.c_str(),
                 report.error.kind.c_str());
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
            std::fputs(kInspectUsageText, err);
            return kInspectUsage;
        } else {
            paths.push_back(arg);
        }
    }
    if (paths.size() != 1) {
        std::fputs(kInspectUsageText, err);
        return kInspectUsage;
    }
    const std::string& path = paths.front();
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
