// The five command senders: each assembles one frame in a CSendBuff and sends it as a RAW job.
//
// Frame (all bytes; integers big-endian):
//   offset 0,  width 8:      frame start 1B 7C 31 30 40 01 44 00
//   offset 8,  width 8|24:   command body
//   offset 16|32, width 8:   frame end   1B 7C 31 30 24 00 00 00
// Command body:
//   offset 0, width 1:  40
//   offset 1, width 1:  command code
//   offset 2, width 2:  parameter length n
//   offset 4, width n:  parameter bytes, then zero bytes up to a body of 8 or 24
// Commands (code, n, parameter, body size, frame size):
//   clock        1B, 1, 04,                 8, 24
//   version      1B, 1, 05,                 8, 24
//   EEPROM block 1C, 4, block ID,           8, 24
//   log info     2C, 20, FF 07 + 18 x 00,  24, 40
//   log data     23, 20, FF 07 + 18 x 00,  24, 40
#include "link/printer_link.h"
#include "link/send_buff.h"

namespace trawler {

namespace {

constexpr uint8_t kFrameStart[8] = {0x1B, 0x7C, 0x31, 0x30, 0x40, 0x01, 0x44, 0x00};
constexpr uint8_t kFrameEnd[8] = {0x1B, 0x7C, 0x31, 0x30, 0x24, 0x00, 0x00, 0x00};

constexpr uint8_t kClockBody[8] = {0x40, 0x1B, 0x00, 0x01, 0x04, 0x00, 0x00, 0x00};
constexpr uint8_t kVersionBody[8] = {0x40, 0x1B, 0x00, 0x01, 0x05, 0x00, 0x00, 0x00};
constexpr uint8_t kLogInfoBody[24] = {0x40, 0x2C, 0x00, 0x14, 0xFF, 0x07};
constexpr uint8_t kLogDataBody[24] = {0x40, 0x23, 0x00, 0x14, 0xFF, 0x07};

void PutBigEndian32(uint8_t* out, uint32_t value) {
    out[0] = static_cast<uint8_t>(value >> 24);
    out[1] = static_cast<uint8_t>(value >> 16);
    out[2] = static_cast<uint8_t>(value >> 8);
    out[3] = static_cast<uint8_t>(value);
}

}  // namespace

bool PrinterLink::SendFrame(const uint8_t* body, int32_t bodyLength) {
    if (m_printer == nullptr) return false;
    CSendBuff frame(&m_host);
    bool assembled = frame.Add(kFrameStart, sizeof kFrameStart) && frame.Add(body, bodyLength) &&
                     frame.Add(kFrameEnd, sizeof kFrameEnd);
    if (!assembled || frame.Data() == nullptr) return false;
    // A refused or short job is not reported here: the request that follows times out.
    Send(frame.Data(), static_cast<uint32_t>(frame.Length()));
    return true;
}

bool PrinterLink::SendClockRequest() {
    return SendFrame(kClockBody, sizeof kClockBody);
}

bool PrinterLink::SendVersionRequest() {
    return SendFrame(kVersionBody, sizeof kVersionBody);
}

bool PrinterLink::SendEepromReadRequest(uint32_t blockId) {
    uint8_t body[8] = {0x40, 0x1C, 0x00, 0x04};
    PutBigEndian32(body + 4, blockId);
    return SendFrame(body, sizeof body);
}

bool PrinterLink::SendLogInfoRequest() {
    return SendFrame(kLogInfoBody, sizeof kLogInfoBody);
}

bool PrinterLink::SendLogDataRequest() {
    return SendFrame(kLogDataBody, sizeof kLogDataBody);
}

}  // namespace trawler
