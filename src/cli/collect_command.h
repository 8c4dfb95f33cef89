// trawler-cli printers and collect: the wizard's printer search and run without windows.
#pragma once

#include <string>
#include <vector>

namespace trawler {

int RunPrinters(const std::vector<std::string>& args);
int RunCollect(const std::vector<std::string>& args);

}  // namespace trawler
