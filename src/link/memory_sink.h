// MemorySink: a growable in-memory file written one byte at a time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace trawler {

class MemorySink {
  public:
    // The capacity grows in whole steps of this many bytes.
    static constexpr size_t kGrowStep = 16384;

    MemorySink() = default;
    MemorySink(const MemorySink&) = delete;
    MemorySink& operator=(const MemorySink&) = delete;

    // Appends one byte; false (nothing written) when the memory for a further step cannot be had.
    bool WriteByte(uint8_t byte);

    // The bytes written since construction or the last Clear/Take; null while none were ever
    // allocated.
    const uint8_t* Data() const { return m_data.get(); }
    size_t Size() const { return m_size; }
    size_t Capacity() const { return m_capacity; }

    // Forgets the bytes written, keeping the memory for reuse.
    void Clear() { m_size = 0; }

    // Hands the written bytes to the caller and leaves the sink empty.
    std::vector<uint8_t> Take();

  private:
    std::unique_ptr<uint8_t[]> m_data;
    size_t m_size = 0;
    size_t m_capacity = 0;
};

}  // namespace trawler
