// The desk's store: one interface, two kinds. A folder keeps package files named by their
// SHA-256 under DIR/store, sharded by the digest's first two bytes (store/ab/cd/abcd...);
// object storage keeps one object per package under the same sharded name (s3_store.h). Both
// receive bytes through a temporary file in DIR/store/tmp, which intake reads before it commits.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace trawler::desk {

// A lock on a file of the temporary folder for as long as this process uses it: servers that
// share a data folder each sweep that folder when they start, and only a file that no live
// process holds is one a crash left.
class TempHold {
  public:
    TempHold() = default;
    ~TempHold();
    TempHold(const TempHold&) = delete;
    TempHold& operator=(const TempHold&) = delete;

    // Locks the open file; false when a sweep holds it or has already removed it.
    bool Take(int fd);

  private:
    int m_fd = -1;
};

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
    // The file now belongs to the store, which moved it into place.
    void Kept() { m_kept = true; }

  private:
    friend class Store;
    int m_fd = -1;
    std::string m_path;
    uint8_t m_buffer[1 << 16] = {};
    size_t m_used = 0;
    bool m_kept = false;
    TempHold m_hold;  // released after the file is moved or removed
};

// A stored package as a local file the package reader can open: the stored file itself, or a
// downloaded copy that goes with this object.
class StoredCopy {
  public:
    StoredCopy() = default;
    ~StoredCopy();
    StoredCopy(const StoredCopy&) = delete;
    StoredCopy& operator=(const StoredCopy&) = delete;

    const std::string& Path() const { return m_path; }
    void Set(std::string path, bool temporary);

  private:
    friend class Store;
    std::string m_path;
    bool m_temporary = false;
    TempHold m_hold;  // on a temporary copy
};

class Store {
  public:
    virtual ~Store() = default;

    // Creates the local folders when missing and checks that the store can be reached.
    virtual bool Prepare(std::string* error) = 0;
    // Moves a synced and closed file to the place of its digest; once this returns true the
    // package survives a crash or power cut of this machine, before anyone is told so.
    virtual bool Commit(TempFile* file, const std::string& sha256, std::string* error) = 0;
    // The stored package, to read or to send back.
    virtual bool Fetch(const std::string& sha256, StoredCopy* copy, std::string* error) const = 0;
    // Removes the stored package; one already gone counts as removed, so that an interrupted
    // purge can simply be run again.
    virtual bool Remove(const std::string& sha256, std::string* error) = 0;
    // The digests of every stored package, in no particular order.
    virtual bool List(std::vector<std::string>* sha256s, std::string* error) const = 0;

    // Removes what intakes cut short by a crash left in the temporary folder; returns how many.
    int SweepTemporaryFiles();
    bool CreateTemp(TempFile* file, std::string* error);

    // The path reports give a stored package, relative to the data folder, whatever the store.
    static std::string RelativePathOf(const std::string& sha256);

  protected:
    explicit Store(const std::string& dataFolder);
    // Creates DIR, DIR/store and DIR/store/tmp.
    bool PrepareFolders(std::string* error);
    // A new empty file in the temporary folder for a downloaded copy, removed with the copy.
    bool CreateCopyFile(StoredCopy* copy, std::string* error) const;

    std::string m_data;
    std::string m_root;
    std::string m_temp;
};

class FolderStore : public Store {
  public:
    explicit FolderStore(const std::string& dataFolder) : Store(dataFolder) {}

    bool Prepare(std::string* error) override;
    bool Commit(TempFile* file, const std::string& sha256, std::string* error) override;
    bool Fetch(const std::string& sha256, StoredCopy* copy, std::string* error) const override;
    bool Remove(const std::string& sha256, std::string* error) override;
    bool List(std::vector<std::string>* sha256s, std::string* error) const override;

    std::string PathOf(const std::string& sha256) const;
};

// The store --store names: empty for the data folder's own, or s3://BUCKET[/PREFIX]?endpoint=
// URL&region=R. Null with *error for a text that names neither.
std::unique_ptr<Store> OpenStore(const std::string& location, const std::string& dataFolder,
                                 std::string* error);

// Whether the text is 64 lower-case hex digits.
bool IsSha256Text(const std::string& text);

}  // namespace trawler::desk
