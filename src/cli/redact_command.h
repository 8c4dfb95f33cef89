// trawler-cli redact: a package or a recording with the customer's texts and names replaced by
// placeholders, for handing on.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

namespace trawler {

constexpr int kRedactWritten = 0;
constexpr int kRedactFailed = 1;   // damaged input, or the output could not be written whole
constexpr int kRedactRefused = 2;  // wrong arguments, unreadable input or key, output exists

// trawler-cli redact IN --out OUT [--key-file K] [--map FILE]; args are the words after
// "redact".
int RunRedact(const std::vector<std::string>& args, std::FILE* out, std::FILE* err);

}  // namespace trawler
