// trawler-desk's commands: serve, token, import.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

namespace trawler::desk {

// Exit codes. import's follow batch inspect's: 1 a package damaged (or refused), 2 something
// unreadable or the desk failed.
constexpr int kDeskOk = 0;
constexpr int kDeskDamaged = 1;
constexpr int kDeskFailed = 2;

// args are the words after the program's name.
int RunDesk(const std::vector<std::string>& args, std::FILE* out, std::FILE* err);

}  // namespace trawler::desk
