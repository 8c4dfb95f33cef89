// trawler-cli diff over the package diff.
#include "cli/diff_command.h"

#include "output/package_diff.h"
#include "cli/usage.h"
#include "output/package_report.h"

namespace trawler {

namespace {

constexpr char kDiffUsageText[] =
    "usage: trawler-cli diff A.zlg B.zlg [--json]\n"
    "  what changed from collection A to collection B; exit 0 when the same, 1 when\n"
    "  different, 2 when a package cannot be read or is damaged\n";

}  // namespace

int RunDiff(const std::vector<std::string>& args, std::FILE* out, std::FILE* err) {
    bool json = false;
    std::vector<std::string> paths;
    for (const std::string& arg : args) {
        if (arg == "--help" || arg == "-h") {
            std::fputs(kDiffUsageText, out);
            return kDiffSame;
        }
        if (arg == "--json") {
            json = true;
        } else if (arg.size() > 1 && arg[0] == '-') {
            PrintUnknownArgument(err, "diff", arg, kDiffUsageText);
            return kDiffError;
        } else {
            paths.push_back(arg);
        }
    }
    if (paths.size() != 2) {
        std::fputs(kDiffUsageText, err);
        return kDiffError;
    }
    PackageDiff diff;
    std::string which;
    if (!DiffPackages(paths[0], paths[1], &diff, &which)) {
        const PackageReport& bad = which == "A" ? diff.a : diff.b;
        const std::string& path = which == "A" ? paths[0] : paths[1];
        std::fprintf(err, "trawler-cli diff: %s: %s [%s]\n", EscapeForTerminal(path).c_str(),
                     EscapeForTerminal(bad.error.message).c_str(), bad.error.kind.c_str());
        // A script reading stdout learns the same from the JSON object.
        if (json) std::fputs(FormatDiffJson(diff, paths[0], paths[1]).c_str(), out);
        return kDiffError;
    }
    std::string text =
        json ? FormatDiffJson(diff, paths[0], paths[1]) : FormatDiffText(diff, paths[0], paths[1]);
    std::fputs(text.c_str(), out);
    return diff.Same() ? kDiffSame : kDiffDifferent;
}

}  // namespace trawler
