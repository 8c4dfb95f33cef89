// CSendBuff: the growable byte buffer in which a command frame is assembled.
#pragma once

#include <cstdint>
#include <memory>

#include "platform/host.h"

namespace trawler {

inline constexpr char kMsgSendBuffAddFailed[] = "ERROR:CSendBuff::Add new failed";

class CSendBuff {
  public:
    // Bytes kept free after every allocation or growth.
    static constexpr int32_t kSlack = 1024;

    // host receives the box for a failed growth; with none the failure is silent.
    explicit CSendBuff(Host* host = nullptr) : m_host(host) {}
    virtual ~CSendBuff() = default;
    CSendBuff(const CSendBuff&) = delete;
    CSendBuff& operator=(const CSendBuff&) = delete;

    // Appends count bytes (nothing for a count of 0 or less). The first call allocates
    // count + 1024 bytes; when the free room is short the capacity grows by count + 1024.
    // False when memory cannot be had: silently for the first allocation, with the box
    // "ERROR:CSendBuff::Add new failed" for a growth (the bytes already held are kept).
    bool Add(const uint8_t* source, int32_t count);

    int32_t Capacity() const { return m_capacity; }
    int32_t Length() const { return m_length; }
    // Null until the first successful Add.
    const uint8_t* Data() const { return m_data.get(); }

  private:
    Host* m_host;
    int32_t m_capacity = 0;
    int32_t m_length = 0;
    std::unique_ptr<uint8_t[]> m_data;
};

}  // namespace trawler
