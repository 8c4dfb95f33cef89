// trawler-cli diff: what changed between two collections.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

namespace trawler {

// Exit codes, as diff(1) has them.
constexpr int kDiffSame = 0;
constexpr int kDiffDifferent = 1;
constexpr int kDiffError = 2;  // wrong arguments, or a package unreadable or damaged

// trawler-cli diff A.zlg B.zlg [--json]; args are the words after "diff".
int RunDiff(const std::vector<std::string>& args, std::FILE* out, std::FILE* err);

}  // namespace trawler
