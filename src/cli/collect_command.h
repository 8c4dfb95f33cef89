// trawler-cli printers and collect: the wizard's printer search and run without windows.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

namespace trawler {

int RunPrinters(const std::vector<std::string>& args);
// The saved package's path (or the line protocol) on out, messages on err.
int RunCollect(const std::vector<std::string>& args, std::FILE* out = stdout,
               std::FILE* err = stderr);

}  // namespace trawler
