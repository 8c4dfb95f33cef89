// The container's and the package's own format facts, for their writers and their reader.
// (The printer's facts, the EEPROM records' tags among them, are in pv730/protocol.h.)
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace trawler {

inline constexpr char kContainerMagic[] = "PV730LO1";
inline constexpr char kPackageMagic[] = "PV730LZ1";
constexpr size_t kMagicSize = 8;

// The tags a run writes, in the order it writes them: the comment record, the printer's
// chunks (clock, version, the EEPROM records, the log information and the log), "ENDF" not
// included.
const std::vector<std::string>& ChunkTagOrder();
// The rank of the first chunk only a printer run writes ("Date") in that order.
constexpr int kFirstDeviceRank = 3;
// A tag's rank in that order; -1 for a tag a run does not write.
int ChunkTagRank(const std::string& tag);
// The EEPROM block whose record a chunk of this tag holds; 0 for a tag that holds none.
uint32_t EepromBlockOfTag(const std::string& tag);

}  // namespace trawler
