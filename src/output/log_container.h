// LogContainer: the writer of the chunked, uncompressed log container ("PV730LO1").
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

#include "output/container_format.h"
#include "platform/host.h"

namespace trawler {

// Size of the append buffer behind AppendByte.
constexpr int32_t kAppendBufferSize = 8192;

class LogContainer {
  public:
    explicit LogContainer(Host& host);
    virtual ~LogContainer();
    LogContainer(const LogContainer&) = delete;
    LogContainer& operator=(const LogContainer&) = delete;

    // Open, then the file header with value 0. A header that cannot be written leaves no
    // half-written file behind: the file is closed and deleted.
    bool Create(const std::string& path);
    // "w+b": created or emptied. A stream that is still open is closed first.
    bool Open(const std::string& path);
    bool WriteFileHeader(uint32_t value);
    // tag: exactly four characters.
    bool WriteChunkHeader(const char* tag, uint32_t length);
    bool WriteBytes(size_t count, const void* data);
    bool WriteChunk(const char* tag, uint32_t contentLength, const void* content);
    bool AppendByte(uint8_t byte);
    bool FlushAppended();
    // Leaves the position just after the header of the first chunk with the tag.
    bool FindChunk(const char* tag, uint32_t* length);
    bool SetChunkLength(const char* tag, uint32_t length);
    bool WriteEnd();
    // True when a file was open and everything waiting reached it.
    bool Close();
    bool IsOpen() const { return m_file != nullptr; }
    // A write, seek or close of this file has failed since it was opened: whatever the callers
    // made of that result, the file is not a whole container. Sticky until the next Open.
    bool Damaged() const { return m_damaged; }

  private:
    void ReportLastError();
    // Marks the file damaged; false, for the failing call to return.
    bool Damage() {
        m_damaged = true;
        return false;
    }

    Host& m_host;
    int32_t m_fillCount = 0;
    int32_t m_bufferCapacity = 0;
    std::unique_ptr<uint8_t[]> m_buffer;
    uint32_t m_remaining = 0;
    std::FILE* m_file = nullptr;
    bool m_failureShown = false;  // the system's text has been shown for this file
    bool m_damaged = false;
};

}  // namespace trawler
