// The one wording of an unknown argument.
#include "cli/usage.h"

#include "output/package_report.h"

namespace trawler {

void PrintUnknownArgument(std::FILE* err, const char* command, const std::string& arg,
                          const char* usage) {
    std::fprintf(err, "trawler-cli %s: unknown argument \"%s\"\n%s", command,
                 EscapeForTerminal(arg).c_str(), usage);
}

}  // namespace trawler
