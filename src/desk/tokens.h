// Bearer tokens: made from the system's random source, kept only as hashes, compared in
// constant time.
#pragma once

#include <string>

namespace trawler::desk {

// A new token: 256 random bits as 64 hex digits; empty when the random source fails.
std::string GenerateToken();

// What the catalogue keeps of a token. A plain SHA-256 is enough here, unlike for passwords:
// a token is 256 random bits, so a stolen catalogue gives nothing to guess from, and a slow
// hash would only cost every request its time.
std::string HashToken(const std::string& token);

// Equal texts, in a time that depends on their lengths only, never on where they differ.
bool ConstantTimeEqual(const std::string& a, const std::string& b);

}  // namespace trawler::desk
