// CSendBuff: append with growth by the requested count plus 1024 bytes.
#include "link/send_buff.h"

#include <cstring>
#include <limits>
#include <new>

#include "platform/messages.h"

namespace trawler {

namespace {
// A capacity that fits the signed 32-bit field, or 0 when it would not.
int32_t FittingCapacity(int64_t wanted) {
    return wanted > std::numeric_limits<int32_t>::max() ? 0 : static_cast<int32_t>(wanted);
}
}  // namespace

bool CSendBuff::Add(const uint8_t* source, int32_t count) {
    const int32_t n = count > 0 ? count : 0;
    if (!m_data) {
        m_length = 0;
        int32_t capacity = FittingCapacity(int64_t{n} + kSlack);
        if (capacity == 0) return false;
        m_data.reset(new (std::nothrow) uint8_t[static_cast<size_t>(capacity)]);
        if (!m_data) return false;
        m_capacity = capacity;
    }
    if (n > m_capacity - m_length) {
        int32_t capacity = FittingCapacity(int64_t{m_capacity} + n + kSlack);
        uint8_t* grown =
            capacity == 0 ? nullptr : new (std::nothrow) uint8_t[static_cast<size_t>(capacity)];
        if (grown == nullptr) {
            // The bytes already assembled stay; only this append is refused.
            if (m_host != nullptr) ShowMessage(*m_host, "%s", kMsgSendBuffAddFailed);
            return false;
        }
        if (m_length > 0) std::memcpy(grown, m_data.get(), static_cast<size_t>(m_length));
        m_data.reset(grown);
        m_capacity = capacity;
    }
    if (n > 0) {
        if (source == nullptr) return false;
        std::memcpy(m_data.get() + m_length, source, static_cast<size_t>(n));
        m_length += n;
    }
    return true;
}

}  // namespace trawler
