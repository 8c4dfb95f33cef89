// trawler-cli: the acquisition and the package reader without windows.
#include <cstdio>
#include <string>
#include <vector>

#include "cli/collect_command.h"
#include "cli/diff_command.h"
#include "cli/inspect_command.h"
#include "cli/redact_command.h"
#include "cli/send_command.h"

namespace {

constexpr char kUsage[] =
    "usage: trawler-cli COMMAND [ARGUMENTS]\n"
    "  printers [--simulate | --device FILE]   list the printers and which would be offered\n"
    "  collect --folder DIR [...]              read a printer into a .zlg package\n"
    "  inspect PATH... [--json]                check packages or folders of them, report each\n"
    "  extract FILE.zlg --to DIR               write the container and each chunk to DIR\n"
    "  diff A.zlg B.zlg [--json]               what changed from collection A to B\n"
    "  redact IN --out OUT [...]               replace customer texts and names by placeholders\n"
    "  send FILE.zlg... --desk URL [...]       send packages to the support desk\n"
    "Run a command with --help for its arguments; --version tells the version.\n";

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fputs(kUsage, stderr);
        return 2;
    }
    std::string command = argv[1];
    std::vector<std::string> args(argv + 2, argv + argc);
    if (command == "printers") return trawler::RunPrinters(args);
    if (command == "collect") return trawler::RunCollect(args);
    if (command == "inspect") return trawler::RunInspect(args, stdout, stderr);
    if (command == "extract") return trawler::RunExtract(args, stdout, stderr);
    if (command == "diff") return trawler::RunDiff(args, stdout, stderr);
    if (command == "redact") return trawler::RunRedact(args, stdout, stderr);
    if (command == "send") return trawler::RunSend(args, stdout, stderr);
    if (command == "--help" || command == "-h" || command == "help") {
        std::fputs(kUsage, stdout);
        return 0;
    }
    if (command == "--version") {
        std::printf("trawler-cli %s\n", TRAWLER_VERSION);
        return 0;
    }
    std::fprintf(stderr, "trawler-cli: unknown command \"%s\"\n%s", command.c_str(), kUsage);
    return 2;
}
