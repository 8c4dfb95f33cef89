// The desk's store: package files named by their SHA-256 under DIR/store, sharded by the
// digest's first two bytes (store/ab/cd/abcd...), and the temporary files of intakes under way.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace trawler::desk {

// A file being received. Removed when its owner goes unless it was moved into the store.
class TempFile {
  public:
    TempFile() = default;
    ~TempFile();
    TempFile(const TempFile&) = delete;
    TempFile& operator=(const TempFile&) = delete;

    bool Write(const uint8_t* data, size_t size);
    // Writes out what is buffered, syncs the file to the disk and closes it.
    bool SyncAndClose();
    const std::string& Path() const { return m_path; }

  private:
    friend class Store;
    int m_fd = -1;
    std::string m_path;
    uint8_t m_buffer[1 << 16] = {};
    size_t m_used = 0;
    bool m_kept = false;
};

class Store {
  public:
    explicit Store(std::string dataFolder);

    // Creates the folders when missing.
    bool Prepare(std::string* error);
    // Removes what intakes cut short by a crash left in the temporary folder; returns how many.
    int SweepTemporaryFiles();

    bool CreateTemp(TempFile* file, std::string* error);
    // Moves a synced and closed file to the place of its digest, and syncs the folders the
    // name was written in, so the file is there after a power cut before anyone is told so.
    bool Commit(TempFile* file, const std::string& sha256, std::string* error);

    // Deletes the package's file and syncs its folder; a file already gone (a purge cut short
    // after deleting it) counts as deleted.
    bool Remove(const std::string& sha256, std::string* error);

    std::string PathOf(const std::string& sha256) const;
    // The same path relative to the data folder, as reports name the file.
    static std::string RelativePathOf(const std::string& sha256);

  private:
    std::string m_data;
    std::string m_root;
    std::string m_temp;
};

// Whether the text is 64 lower-case hex digits.
bool IsSha256Text(const std::string& text);

}  // namespace trawler::desk
