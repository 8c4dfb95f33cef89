// trawler-desk: the support desk's server and its data-folder commands.
#include <cstdio>
#include <string>
#include <vector>

#include "desk/desk_commands.h"

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    return trawler::desk::RunDesk(args, stdout, stderr);
}
