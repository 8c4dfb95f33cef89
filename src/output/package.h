// The package (".zlg"): its names, the comment record, compression and the magic in front.
#pragma once

#include <cstdint>
#include <ctime>
#include <string>

#include "output/log_container.h"
#include "platform/host.h"

namespace trawler {

// Results of MakeZlg and WritePackage (-6 is not used).
enum PackageResult : int {
    kPackageOk = 0,
    kZlgContainerReadError = -1,
    kZlgShortCompressWrite = -2,
    kZlgCompressCloseFailed = -3,
    kZlgTempCreateFailed = -4,
    kZlgContainerOpenFailed = -5,
    kPackageTempOpenFailed = -7,
    kPackageCreateFailed = -8,
    kPackageTempReadError = -9,
    kPackageShortWrite = -10,
    kPackageMagicWriteFailed = -11,
};

// The name the support desk sees uses a backslash; the Linux command line passes '/'.
constexpr char kPackageSeparator = '\\';

// folder + separator + "%Y%m%d_%H%M" + ".zlg"; the separator is added even when the folder
// already ends in one.
std::string MakePackagePath(const std::string& folder, const std::tm& localTime,
                            char separator = kPackageSeparator);

// "Cust" holds the "Comment:" text and "Comm" the "Customer:" text (the support desk reads
// them that way); each only when not empty. Then "PCDT" from the Host's version record.
bool WriteCommentToLog(LogContainer& container, Host& host, const std::string& customer,
                       const std::string& comment);

// The "PCDT" line for a version record.
std::string FormatPcLine(const VersionRecord& record);

// Compresses the container into the package (magic + one gzip member). Deletes the container
// on every path, the temporary compressed file always, and the package on failure; shows
// "error: MakeZlg (%d)" on failure. Returns a PackageResult.
int MakeZlg(Host& host, const std::string& containerPath, const std::string& packagePath);

// "PV730LZ1" then the bytes of source into destination, which must not exist yet (-8 if it
// does). Returns a PackageResult.
int WritePackage(const std::string& source, const std::string& destination);

// Whether a package under this first name, or its container, already exists: the run checks
// before collecting, because the package is never written over an earlier one.
bool PackageNameTaken(const std::string& packagePath);

// Renames the package to folder + separator + "No<unit>_" + its name; never replaces an
// existing file. On success *packagePath becomes the new path. Returns whether it renamed.
bool AddUnitNumberToName(const std::string& folder, std::string* packagePath, uint32_t unitNumber,
                         char separator = kPackageSeparator);

}  // namespace trawler
