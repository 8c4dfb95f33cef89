// How every command of trawler-cli answers an argument it does not know.
#pragma once

#include <cstdio>
#include <string>

namespace trawler {

// "trawler-cli COMMAND: unknown argument "ARG"" (the argument escaped for a terminal), then the
// command's usage; both on `err`.
void PrintUnknownArgument(std::FILE* err, const char* command, const std::string& arg,
                          const char* usage);

}  // namespace trawler
