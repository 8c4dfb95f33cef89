// The answer script: fuzz input served as raw-read blocks by an in-memory Spooler, the
// recorder that writes such a script from a real (emulated) spooler, and the request sequence
// both run, with the invariants every answer must keep.
//
// Script layout:
//   offset 0, width 1: settings: bits 0-1 pick OneReadByte from kScriptReadSizes
//   then blocks, each one raw read:
//     offset 0, width 1: flags: 0x80 the query fails, 0x40 the driver says busy (status byte
//                        non-zero), 0x20 the needed count claims 4096 bytes more than given
//     offset 1, width 2: n, big-endian: answer bytes in this block
//     offset 3, width n: the answer bytes (fewer when the script ends first)
//   After the last block every read is empty, so each request ends by time-out.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "pv730/device_requests.h"
#include "link/memory_sink.h"
#include "link/printer_link.h"
#include "platform/spooler.h"
#include "pv730/protocol.h"
#include "platform/big_endian.h"

namespace trawler::fuzz {

using namespace pv730;

constexpr int32_t kScriptReadSizes[4] = {516, 1024, 24, 5};
constexpr uint8_t kBlockQueryFails = 0x80;
constexpr uint8_t kBlockBusy = 0x40;
constexpr uint8_t kBlockOverclaims = 0x20;
constexpr uint32_t kOverclaim = 4096;
// Enough packets for every starting-corpus log; a script cannot keep the loop going longer.
constexpr int kMaxLogPackets = 64;
constexpr char kScriptPrinter[] = "PV-730";
constexpr uint32_t kScriptBlockIds[10] = {0x8001, 0x8002, 0x8003, 0x8004, 0x8005,
                                          0x8006, 0x8010, 0x8011, 0x8012, 0x8013};

// A broken invariant is a finding: report it and abort so that libFuzzer keeps the input.
#define FUZZ_CHECK(condition)                                                                      \
    do {                                                                                           \
        if (!(condition)) {                                                                        \
            std::fprintf(stderr, "%s:%d: invariant broken: %s\n", __FILE__, __LINE__, #condition); \
            std::abort();                                                                          \
        }                                                                                          \
    } while (0)

// Every spooler call succeeds; raw reads come from the script.
class ScriptedSpooler : public Spooler {
  public:
    ScriptedSpooler(const uint8_t* data, size_t size) : m_data(data), m_size(size) {}

    bool EnumerateLocal(std::vector<PrinterRecord>* records) override { return true; }
    bool OpenPrinterHandle(const std::string& name, uint32_t access,
                           PrinterHandle* handle) override {
        *handle = &m_open;
        return true;
    }
    bool ClosePrinterHandle(PrinterHandle handle) override { return true; }
    bool StartDocument(PrinterHandle, const std::string&, const std::string&) override {
        return true;
    }
    bool StartPrinterPage(PrinterHandle) override { return true; }
    bool WriteToPrinter(PrinterHandle, const uint8_t*, uint32_t length,
                        uint32_t* written) override {
        *written = length;
        return true;
    }
    bool EndPrinterPage(PrinterHandle) override { return true; }
    bool EndDocument(PrinterHandle) override { return true; }

    uint32_t QueryPrinterData(PrinterHandle, const std::string& valueName, uint32_t*,
                              uint8_t* buffer, uint32_t size, uint32_t* needed) override {
        if (size > 0) std::memset(buffer, 0, size);
        *needed = 0;
        if (valueName != pv730::kValueRawRead || m_pos + 3 > m_size) return 0;  // online / empty
        const uint8_t flags = m_data[m_pos];
        size_t n = (size_t{m_data[m_pos + 1]} << 8) | m_data[m_pos + 2];
        m_pos += 3;
        if (n > m_size - m_pos) n = m_size - m_pos;
        const uint8_t* bytes = m_data + m_pos;
        m_pos += n;
        if (flags & kBlockQueryFails) return kErrorGenFailure;
        if (size > 0 && (flags & kBlockBusy)) buffer[0] = 0x01;
        const size_t room = size > kRawReadHeader ? size - kRawReadHeader : 0;
        std::memcpy(buffer + (size > kRawReadHeader ? kRawReadHeader : 0), bytes,
                    n < room ? n : room);
        *needed = static_cast<uint32_t>(kRawReadHeader + n);
        if (flags & kBlockOverclaims) *needed += kOverclaim;
        return 0;
    }
    uint32_t LastError() override { return kErrorGenFailure; }
    std::string ErrorText(uint32_t) override {
        return "A device attached to the system is not functioning.";
    }

  private:
    const uint8_t* m_data;
    size_t m_size;
    size_t m_pos = 1;  // after the settings byte
    int m_open = 0;
};

// Passes every call to a real spooler and writes each raw read as a script block.
class RecordingSpooler : public Spooler {
  public:
    RecordingSpooler(Spooler& inner, uint8_t settings) : m_inner(inner), m_script{settings} {}

    const std::vector<uint8_t>& Script() const { return m_script; }

    bool EnumerateLocal(std::vector<PrinterRecord>* records) override {
        return m_inner.EnumerateLocal(records);
    }
    bool OpenPrinterHandle(const std::string& name, uint32_t access,
                           PrinterHandle* handle) override {
        return m_inner.OpenPrinterHandle(name, access, handle);
    }
    bool ClosePrinterHandle(PrinterHandle handle) override {
        return m_inner.ClosePrinterHandle(handle);
    }
    bool StartDocument(PrinterHandle handle, const std::string& docName,
                       const std::string& dataType) override {
        return m_inner.StartDocument(handle, docName, dataType);
    }
    bool StartPrinterPage(PrinterHandle handle) override {
        return m_inner.StartPrinterPage(handle);
    }
    bool WriteToPrinter(PrinterHandle handle, const uint8_t* data, uint32_t length,
                        uint32_t* written) override {
        return m_inner.WriteToPrinter(handle, data, length, written);
    }
    bool EndPrinterPage(PrinterHandle handle) override { return m_inner.EndPrinterPage(handle); }
    bool EndDocument(PrinterHandle handle) override { return m_inner.EndDocument(handle); }
    uint32_t QueryPrinterData(PrinterHandle handle, const std::string& valueName, uint32_t* type,
                              uint8_t* buffer, uint32_t size, uint32_t* needed) override {
        uint32_t status = m_inner.QueryPrinterData(handle, valueName, type, buffer, size, needed);
        if (valueName != pv730::kValueRawRead) return status;
        uint8_t flags = 0;
        uint32_t n = 0;
        if (status != 0) {
            flags = kBlockQueryFails;
        } else {
            if (size > 0 && buffer[0] != 0) flags |= kBlockBusy;
            const uint32_t room = size > kRawReadHeader ? size - kRawReadHeader : 0;
            if (*needed > kRawReadHeader) n = *needed - kRawReadHeader;
            if (n > room) n = room;
        }
        m_script.push_back(flags);
        m_script.push_back(static_cast<uint8_t>(n >> 8));
        m_script.push_back(static_cast<uint8_t>(n));
        if (n > 0) {
            m_script.insert(m_script.end(), buffer + kRawReadHeader, buffer + kRawReadHeader + n);
        }
        return status;
    }
    uint32_t LastError() override { return m_inner.LastError(); }
    std::string ErrorText(uint32_t code) override { return m_inner.ErrorText(code); }

  private:
    Spooler& m_inner;
    std::vector<uint8_t> m_script;
};

// What a run of the sequence took in, for the corpus generator to confirm a clean run.
struct SequenceOutcome {
    bool clock = false;
    bool version = false;
    int eepromBlocks = 0;
    bool logInfo = false;
    int logPackets = 0;
    bool lastPacketSeen = false;
    uint64_t logBytes = 0;
};

// One EEPROM block as the version/EEPROM phase takes it, with the reader's promises checked.
inline bool ReadOneBlock(PrinterLink& link, uint32_t blockId, MemorySink& record,
                         MemorySink& data) {
    if (!link.SendEepromReadRequest(blockId)) return false;
    link.WaitAfterSend();
    link.ResetReader();
    uint32_t id = 0;
    uint32_t checksum = 0;
    if (!ReadEepromBlock(link, record, data, &id, &checksum)) return false;
    link.SkipToBlockEnd();
    // The record is exactly this answer's payload: header fields, the data, the checksum.
    FUZZ_CHECK(record.Size() == data.Size() + 16);
    FUZZ_CHECK(ReadBig32(record.Data()) == id);
    FUZZ_CHECK(ReadBig32(record.Data() + 8) == data.Size());
    FUZZ_CHECK(data.Size() == 0 || std::memcmp(record.Data() + 12, data.Data(), data.Size()) == 0);
    FUZZ_CHECK(ReadBig32(record.Data() + record.Size() - 4) == checksum);
    return id == blockId && EepromChecksum(data.Data(), data.Size()) == checksum;
}

// One log data packet as the log phase reads it; false when the reader or the packet fails.
inline bool ReadOnePacket(PrinterLink& link, uint8_t* lastFlag, uint64_t* kept) {
    LogDataParser parser;
    uint32_t packetKept = 0;
    for (;;) {
        uint8_t byte = 0;
        if (link.ReadByte(&byte) != kReadByteOk) return false;
        int parsed = ParseLogDataAnswer(&parser, byte);
        *lastFlag = parser.lastFlag;
        const uint32_t validCount = parser.validCount;
        const int state = parser.state;
        FUZZ_CHECK(parsed >= kParseBadLength && parsed <= kParseResync);
        if (parsed == kParseBadLength) return false;
        if (parsed == kParseData || parsed == kParseDone) ++packetKept;
        if (parsed == kParseDone || parsed == kParseRecordOnly) {
            // A packet always ends with its 1008th data byte and keeps its first V of them.
            FUZZ_CHECK(state == 16 + static_cast<int>(pv730::kLogDataArea));
            FUZZ_CHECK(packetKept ==
                       (validCount < pv730::kLogDataArea ? validCount : pv730::kLogDataArea));
            *kept += packetKept;
            return true;
        }
        FUZZ_CHECK(state <= 16 + static_cast<int>(pv730::kLogDataArea));
    }
}

// Clock, version, the ten EEPROM blocks, log information and the log, on an open printer.
// Every request runs whatever the one before it gave, so one script reaches every parser.
inline SequenceOutcome RunAnswerSequence(PrinterLink& link) {
    SequenceOutcome outcome;
    uint8_t clock[8] = {};
    outcome.clock = ReadClock(link, clock);
    uint32_t version[4] = {};
    outcome.version = ReadVersion(link, version);

    MemorySink record;
    MemorySink data;
    for (uint32_t blockId : kScriptBlockIds) {
        if (ReadOneBlock(link, blockId, record, data)) ++outcome.eepromBlocks;
    }

    std::string info = "left over";
    outcome.logInfo = ReadLogInfo(link, &info);
    if (outcome.logInfo) FUZZ_CHECK(info.size() == 4);

    if (link.SendLogDataRequest()) {
        link.ResetReader();
        link.WaitAfterSend();
        for (int packet = 0; packet < kMaxLogPackets; ++packet) {
            uint8_t lastFlag = 0;
            if (!ReadOnePacket(link, &lastFlag, &outcome.logBytes)) break;
            ++outcome.logPackets;
            if (lastFlag == 1) {
                outcome.lastPacketSeen = true;
                link.SkipToBlockEnd();
                break;
            }
        }
    }
    return outcome;
}

}  // namespace trawler::fuzz
