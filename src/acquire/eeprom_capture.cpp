// The version, clock and EEPROM phase: "Date", "Vers" and the ten block records.
#include <cstring>
#include <memory>

#include "acquire/log_run.h"
#include "acquire/run_messages.h"
#include "pv730/device_requests.h"
#include "link/memory_sink.h"
#include "output/container_format.h"
#include "pv730/protocol.h"
#include "platform/messages.h"

namespace trawler {

using pv730::kEepromBlocks;

std::vector<uint8_t> LogRun::EepRead(uint32_t blockId, bool* ok) {
    PrinterLink& link = m_session.m_link;
    Host& host = m_session.GetHost();
    MemorySink record;
    MemorySink data;
    *ok = false;
    if (!link.SendEepromReadRequest(blockId)) {
        ShowMessage(host, "%s", run_text::kEepSendFailed);
        return {};
    }
    link.WaitAfterSend();
    link.ResetReader();
    uint32_t readId = 0;
    uint32_t readChecksum = 0;
    std::vector<uint8_t> result;
    if (!pv730::ReadEepromBlock(link, record, data, &readId, &readChecksum)) {
        ShowMessage(host, "%s", run_text::kEepReadFailed);
    } else if (readId != blockId) {
        ShowMessage(host, run_text::kEepIdMismatch, static_cast<unsigned>(readId));
    } else if (pv730::EepromChecksum(data.Data(), data.Size()) != readChecksum) {
        ShowMessage(host, run_text::kEepChecksumMismatch, static_cast<unsigned>(readId));
    } else {
        result.assign(record.Data(), record.Data() + record.Size());
        *ok = true;
    }
    // A unit that ends short lost bytes somewhere in this answer: the block was not read
    // completely, whatever its checksum says.
    if (!link.SkipToBlockEnd() && *ok) {
        ShowMessage(host, "%s", run_text::kEepReadFailed);
        result.clear();
        *ok = false;
    }
    return result;
}

bool LogRun::CaptureVersionAndEeprom() {
    // The phase includes opening the printer again: a printer lost since shows as this phase's.
    BeginPhase(RunPhase::kClock, 0);
    if (!m_session.OpenAndCheck()) return false;
    PrinterLink& link = m_session.m_link;
    Host& host = m_session.GetHost();
    bool ok = false;
    uint8_t clock[pv730::kClockLength] = {};
    uint32_t version[4] = {};
    if (!pv730::ReadClock(link, clock)) {
        ShowMessage(host, "%s", run_text::kClockNotRead);
    } else if (m_container.WriteChunk(kTagClock, sizeof clock, clock)) {
        BeginPhase(RunPhase::kVersion, 0);
        ok = pv730::ReadVersion(link, version);
        if (ok) {
            // "Vers" is the one chunk whose numbers are stored least significant byte first.
            uint8_t vers[pv730::kVersionLength];
            for (int i = 0; i < 4; ++i) {
                for (int b = 0; b < 4; ++b) vers[i * 4 + b] = uint8_t(version[i] >> (8 * b));
            }
            ok = m_container.WriteChunk(kTagVersion, sizeof vers, vers);
        }
        for (const pv730::EepromBlockInfo& block : kEepromBlocks) {
            if (!ok) break;
            bool read = false;
            BeginPhase(RunPhase::kEeprom, block.id);
            std::vector<uint8_t> record = EepRead(block.id, &read);
            if (!read) {
                ok = false;
                break;
            }
            if (block.id == pv730::kUnitNumberBlock) {
                // A record too short to hold the number must not lend this printer's package
                // the number of another printer read earlier: 0 says "unknown".
                uint32_t unitNumber = 0;
                m_unitNumber =
                    pv730::UnitNumberFromRecord(record.data(), record.size(), &unitNumber)
                        ? unitNumber
                        : 0;
            }
            ok = m_container.WriteChunk(block.tag, static_cast<uint32_t>(record.size()),
                                        record.data());
        }
    }
    m_session.CloseLink();
    return ok;
}

}  // namespace trawler
