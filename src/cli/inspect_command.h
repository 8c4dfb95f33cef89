// trawler-cli inspect and extract: check a ".zlg" package, report it, or unpack it.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

namespace trawler {

// Exit codes of both commands.
constexpr int kInspectOk = 0;
constexpr int kInspectDamaged = 1;  // the package is damaged, or extraction failed
constexpr int kInspectUsage = 2;    // wrong arguments, or the file cannot be read

// trawler-cli inspect PATH... [--json]; args are the words after "inspect".
int RunInspect(const std::vector<std::string>& args, std::FILE* out, std::FILE* err);

// trawler-cli extract FILE.zlg --to DIR; args are the words after "extract".
int RunExtract(const std::vector<std::string>& args, std::FILE* out, std::FILE* err);

}  // namespace trawler
