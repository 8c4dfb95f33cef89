// MemorySink: growth in whole steps, byte writes, hand-over of the bytes.
#include "link/memory_sink.h"

#include <cstring>
#include <new>

namespace trawler {

bool MemorySink::WriteByte(uint8_t byte) {
    if (m_size == m_capacity) {
        size_t capacity = m_capacity + kGrowStep;
        std::unique_ptr<uint8_t[]> grown(new (std::nothrow) uint8_t[capacity]);
        if (!grown) return false;
        if (m_size > 0) std::memcpy(grown.get(), m_data.get(), m_size);
        m_data = std::move(grown);
        m_capacity = capacity;
    }
    m_data[m_size++] = byte;
    return true;
}

std::vector<uint8_t> MemorySink::Take() {
    std::vector<uint8_t> bytes(m_data.get(), m_data.get() + m_size);
    m_size = 0;
    return bytes;
}

}  // namespace trawler
