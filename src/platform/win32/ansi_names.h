// Wide names, as Windows' own listings and dialogs give them, in the ANSI code page that every
// path of the program is written in.
#pragma once

#include <string>

namespace trawler {

// The name in the ANSI code page; false when a character has no place in it, with '?' shown in
// its stead. Never a best-fit look-alike: that would name another file or folder.
bool ToAnsi(const std::wstring& wide, std::string* ansi);

}  // namespace trawler
