// The log phase: "LOGV" and the streamed "LOGD" chunk, with progress and message pumping.
#include "acquire/log_run.h"
#include "acquire/run_messages.h"
#include "output/container_format.h"
#include "pv730/device_requests.h"
#include "platform/messages.h"

namespace trawler {

namespace {
constexpr uint32_t kProgressStepBytes = 400000;
// Answer code and payload length, the three bytes after a log packet's start byte.
constexpr uint32_t kLogPacketHeaderTail =
    uint32_t{pv730::kAnswerLogData} << 16 | pv730::kLogPacketLength;

// Packets follow each other without gaps or filler, so once a packet has been read every byte
// has its place: a packet begins with its first byte and never begins again or loses its place.
// Anything else (a stray byte, a missing one, a damaged start byte or answer code) means the
// stream lost its footing, and hunting for the next start byte would drop log bytes or take
// another packet's header for log data without a word. Before the first packet only the
// designed skipping of stray bytes is allowed (a stray start byte just before the real one
// included); a start byte followed by another answer code is refused there too.
class PacketFooting {
  public:
    // `sealed`: an earlier packet was read, so this one must begin with the very next byte.
    explicit PacketFooting(bool sealed) : m_sealed(sealed) {}

    // False when the byte, with what the parser made of it, shows the footing lost.
    bool Keeps(int parsed, uint8_t byte) {
        if (parsed == pv730::kParseResync) return false;
        if (parsed == pv730::kParseStart) {
            if (m_sealed && m_begun) return false;
            m_begun = true;
            return true;
        }
        if (m_begun) return true;
        if (m_sealed) return false;
        // Noise in front of the first packet is skipped, but not a packet: a packet's answer
        // code and length among the skipped bytes are a packet whose start byte was damaged,
        // and the next start byte found would be the following packet's, its log bytes lost.
        m_skipped = (m_skipped << 8 | byte) & 0xFFFFFF;
        return m_skipped != kLogPacketHeaderTail;
    }

  private:
    const bool m_sealed;
    bool m_begun = false;
    // The last bytes skipped while looking for the first start byte, newest lowest.
    uint32_t m_skipped = 0;
};

}  // namespace

bool LogRun::ReadLogPacket(bool sealed, uint8_t* lastFlag, uint32_t* validCount,
                           uint32_t* firstField) {
    PrinterLink& link = m_session.m_link;
    Host& host = m_session.GetHost();
    pv730::LogDataParser parser;
    PacketFooting footing(sealed);
    for (;;) {
        uint8_t byte = 0;
        int32_t code = link.ReadByte(&byte);
        if (code == kReadTimeout) {
            ShowMessage(host, "%s", run_text::kLogReadTimeout);
            return false;
        }
        if (code != kReadByteOk) return false;
        const int parsed = pv730::ParseLogDataAnswer(&parser, byte);
        *lastFlag = parser.lastFlag;
        *validCount = parser.validCount;
        *firstField = parser.firstField;
        if (!footing.Keeps(parsed, byte)) return false;
        switch (parsed) {
            case pv730::kParseNothing:
            case pv730::kParseStart:
                continue;
            case pv730::kParseData:
            case pv730::kParseDone:
                if (!m_container.AppendByte(byte)) {
                    ShowMessage(host, "%s", run_text::kLogWriteFailed);
                    return false;
                }
                ++m_logBytesKept;
                if (parsed == pv730::kParseDone) return true;
                continue;
            case pv730::kParseRecordOnly:
                return true;
            default:
                return false;
        }
    }
}

bool LogRun::LogRead(uint32_t* total) {
    PrinterLink& link = m_session.m_link;
    Host& host = m_session.GetHost();
    if (!link.SendLogDataRequest()) {
        ShowMessage(host, "%s", run_text::kLogRequestWriteError);
        return false;
    }
    link.ResetReader();
    link.WaitAfterSend();
    uint32_t lastStep = 0;
    for (bool sealed = false;; sealed = true) {
        uint8_t lastFlag = 0;
        uint32_t validCount = 0;
        uint32_t firstField = 0;
        if (!ReadLogPacket(sealed, &lastFlag, &validCount, &firstField)) {
            ShowMessage(host, "%s", run_text::kLogReadFailed);
            return false;
        }
        // A packet claiming more than its data area holds still brought only the area's bytes: the
        // total counts what was stored, so the recorded "LOGD" length matches the content.
        *total += validCount < pv730::kLogDataArea ? validCount : pv730::kLogDataArea;
        if (*total - lastStep > kProgressStepBytes) {
            lastStep = *total;
            host.ProgressStep(1);
        }
        m_view->LogBytesRead(*total);
        m_session.PumpMessages();
        if (lastFlag == pv730::kLogLastPacket) {
            // The last unit must be whole too: a short one means bytes went missing.
            if (link.SkipToBlockEnd()) return true;
            ShowMessage(host, "%s", run_text::kLogReadFailed);
            return false;
        }
    }
}

bool LogRun::CaptureLog() {
    BeginPhase(RunPhase::kLogInfo, 0);
    if (!m_session.OpenAndCheck()) return false;
    if (!pv730::ReadLogInfo(m_session.m_link, &m_strLogInfo)) {
        m_session.CloseLink();
        return false;
    }
    // The phase reads on after these two writes fail; the container keeps the damage, the phase
    // reports failure at its end and the run keeps no package.
    m_container.WriteChunk(kTagLogInfo, pv730::kLogInfoKept,
                           reinterpret_cast<const uint8_t*>(m_strLogInfo.data()));
    m_container.WriteChunkHeader(kTagLog, 0);
    const bool headersWritten = !m_container.Damaged();
    uint32_t total = 0;
    m_logBytesKept = 0;
    BeginPhase(RunPhase::kLog, 0);
    bool ok = LogRead(&total);
    if (ok) m_session.PumpMessages();
    uint32_t padded = PaddedLength(m_logBytesKept);
    for (uint32_t i = m_logBytesKept; i < padded; ++i) m_container.AppendByte(0);
    if (!m_container.SetChunkLength(kTagLog, padded) && ok && headersWritten) {
        ShowMessage(m_session.GetHost(), "%s", run_text::kLogWriteFailed);
    }
    m_session.CloseLink();
    return ok && !m_container.Damaged();
}

}  // namespace trawler
