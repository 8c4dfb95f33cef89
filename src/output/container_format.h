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

// Container header: magic, a big-endian value (always 0), the local creation time as twelve
// digits "%Y%m%d%H%M" without a terminator, then zero bytes.
constexpr uint32_t kContainerHeaderSize = 36;
constexpr size_t kHeaderValueOffset = 8;
constexpr size_t kHeaderTimeOffset = 12;
constexpr size_t kHeaderTimeDigits = 12;
constexpr size_t kHeaderZeroOffset = kHeaderTimeOffset + kHeaderTimeDigits;

// A chunk: four ASCII tag characters, the big-endian recorded length L (the content's length
// rounded up to kChunkAlignment), L bytes.
constexpr size_t kTagSize = 4;
constexpr size_t kChunkHeaderSize = 8;
constexpr uint32_t kChunkAlignment = 4;

// Content length rounded up to the next multiple of kChunkAlignment (the recorded length).
// Lengths above 0xFFFFFFFC have no 32-bit recorded length; callers check FitsChunk first.
constexpr uint32_t PaddedLength(uint32_t n) {
    return (n + (kChunkAlignment - 1)) & ~(kChunkAlignment - 1);
}
constexpr bool FitsChunk(uint64_t n) {
    return n <= 0xFFFFFFFCu;
}

// The tags. "Cust" holds the text typed as the comment and "Comm" the customer's name: the
// support desk's readers have always taken them that way round, so the names below say what
// each holds and the swap stands here only.
inline constexpr char kTagComment[] = "Cust";
inline constexpr char kTagCustomer[] = "Comm";
inline constexpr char kTagPcLine[] = "PCDT";
inline constexpr char kTagClock[] = "Date";
inline constexpr char kTagVersion[] = "Vers";
inline constexpr char kTagLogInfo[] = "LOGV";
inline constexpr char kTagLog[] = "LOGD";
inline constexpr char kTagEnd[] = "ENDF";

// The package's gzip member header as the writer leaves it: deflate, no flags, no time, no
// extra flags, operating system 11 whichever build wrote it.
constexpr uint8_t kPackageGzipHeader[10] = {0x1F, 0x8B, 0x08, 0, 0, 0, 0, 0, 0, 0x0B};
constexpr size_t kGzipOsOffset = 9;

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
