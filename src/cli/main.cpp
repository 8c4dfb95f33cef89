// trawler-cli: the acquisition and the package reader without windows.
#include <cstdio>
#include <string>
#include <vector>

#include "cli/collect_command.h"

namespace {

const char kUsage[] =
    "usage: trawler-cli COMMAND [ARGUMENTS]\n"
    "  printers [--simulate | --device FILE]   list the printers and which would be offered\n"
    "  collect --folder DIR [...]              read a printer into a .zlg package\n"
    "  inspect FILE.zlg [--json]               check a package and report what it holds\n"
    "  extract FILE.zlg --to DIR               write the container and each chunk to DIR\n"
    "Run a command with --help for its arguments.\n";

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fputs(kUsage, stderr);
        return 2;
    }
    std::string command = argv[1];
    std::vector<std::string> args(argv + 2, argv + argc);
    for (const std::string& a : args) {
        if (a == "--help" || a == "-h") {
            args = {"--help"};
            break;
        }
    }
    if (command == "printers") return trawler::RunPrinters(args);
    if (command == "collect") return trawler::RunCollect(args);
    std::fprintf(stderr, "trawler-cli: unknown command \"%s\"\n%s", command.c_str(), kUsage);
    return 2;
}
