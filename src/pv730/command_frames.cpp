// PrinterLink's five command senders, defined with the model because the frames are the
// model's: each assembles one frame (layout and bodies in pv730/protocol.h) in a CSendBuff and
// sends it as a RAW job. The link itself never calls them.
#include <array>

#include "link/printer_link.h"
#include "link/send_buff.h"
#include "platform/big_endian.h"

namespace trawler {

using namespace pv730;

namespace {

// The two log requests differ only in their command code.
constexpr std::array<uint8_t, kLogBodySize> LogBody(uint8_t command) {
    std::array<uint8_t, kLogBodySize> body{};
    body[0] = kAnswerStart;
    body[1] = command;
    for (size_t i = 0; i < sizeof kLogParameter; ++i) body[2 + i] = kLogParameter[i];
    return body;
}

constexpr std::array<uint8_t, kLogBodySize> kLogInfoBody = LogBody(kLogInfoCommand);
constexpr std::array<uint8_t, kLogBodySize> kLogDataBody = LogBody(kLogDataCommand);

}  // namespace

bool PrinterLink::SendFrame(const uint8_t* body, int32_t bodyLength) {
    if (!IsOpen()) return false;
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
    uint8_t body[kEepromBodySize] = {};
    for (size_t i = 0; i < sizeof kEepromBodyHead; ++i) body[i] = kEepromBodyHead[i];
    PutBig32(body + sizeof kEepromBodyHead, blockId);
    return SendFrame(body, sizeof body);
}

bool PrinterLink::SendLogInfoRequest() {
    return SendFrame(kLogInfoBody.data(), kLogBodySize);
}

bool PrinterLink::SendLogDataRequest() {
    return SendFrame(kLogDataBody.data(), kLogBodySize);
}

}  // namespace trawler
