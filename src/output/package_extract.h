// Extraction of a package into a folder: the container and one file per chunk.
#pragma once

#include <string>
#include <vector>

#include "output/package_reader.h"

namespace trawler {

// Checks the package first and writes nothing when it is damaged; then writes, into folder
// (created when missing), "container.bin" and "NN_TAG.bin" for each chunk but "ENDF" (NN its
// position from 01). Chunk files hold the content without padding where the content length is
// known (texts, fixed-size chunks, EEPROM records); "LOGD" and unknown chunks hold their
// recorded length. Never replaces an existing file. The files are written into a staging
// folder inside folder and moved into place at the end: on any failure none of them remains
// (nor the folders this call created) and written is left as it was; on success written gets
// the paths in order.
bool ExtractPackage(const std::string& packagePath, const std::string& folder,
                    PackageReport* report, std::vector<std::string>* written);

}  // namespace trawler
