// The one-file recording (".ztr"): a device description and its side files in one file, as the
// wizard leaves it in the chosen folder and `collect --record FILE.ztr` writes it.
#pragma once

#include <string>
#include <vector>

#include "sim/device_description.h"

namespace trawler {

constexpr char kRecordingArchiveMagic[] = "PV730ZT1";
constexpr char kRecordingArchiveExtension[] = ".ztr";

// Whether the path names a one-file recording (ends in ".ztr", without regard to case).
bool IsRecordingArchivePath(const std::string& path);

// A fresh folder under the system's temporary folder, removed with the files it holds (only
// those named through Adopt or Path) when its owner goes.
class TemporaryFolder {
  public:
    TemporaryFolder();
    ~TemporaryFolder();
    TemporaryFolder(const TemporaryFolder&) = delete;
    TemporaryFolder& operator=(const TemporaryFolder&) = delete;

    bool Ok() const { return !m_folder.empty(); }
    const std::string& Folder() const { return m_folder; }
    // The path of `name` inside, remembered so that it is removed with the folder.
    std::string Path(const std::string& name);

  private:
    std::string m_folder;
    std::vector<std::string> m_names;
};

// Packs the description at `descriptionPath` and the side files beside it named by `sideFiles`
// into `archivePath`. The file is written under a temporary name beside it and renamed only once
// whole; an existing file is never replaced. False, with *error, when it was not written.
bool WriteRecordingArchive(const std::string& descriptionPath,
                           const std::vector<std::string>& sideFiles,
                           const std::string& archivePath, std::string* error);

// A one-file recording unpacked into a temporary folder, which lives as long as this object:
// the replay streams its side files from there.
class UnpackedRecording {
  public:
    // False, with *error, for a file that is not a whole recording: wrong magic, truncated or
    // damaged, or an entry named outside the recording.
    bool Unpack(const std::string& archivePath, std::string* error);
    const std::string& DescriptionPath() const { return m_description; }
    // Whether every file the description names is one of the recording's own entries.
    bool HoldsEveryFile(std::string* error) const;

  private:
    TemporaryFolder m_folder;
    std::string m_description;
    std::vector<std::string> m_entries;  // the names, as the description names them
};

// LoadDeviceDescription for a description file; for a ".ztr" the recording is unpacked into
// `unpacked` first, which must outlive every use of the result.
DeviceDescription LoadRecordedDevice(const std::string& path, UnpackedRecording* unpacked,
                                     std::string* error);

}  // namespace trawler
