// The printer's answers (layouts in pv730/protocol.h): parsers fed one byte at a time, and the
// requests built on them.
#include "link/device_requests.h"

#include "platform/big_endian.h"
#include "platform/messages.h"

namespace trawler {

namespace {

using pv730::kClockLength;
using pv730::kEepromOverhead;
using pv730::kLogInfoLength;
using pv730::kVersionLength;

// The header states shared by every parser: 0 looks for the start byte, 1 checks the answer
// code, 2 and 3 take the length. True when the byte was consumed by them. State 1 is only ever
// entered by taking a start byte, so callers reset their outputs whenever they find it there.
bool ParseHeader(int* state, uint32_t* length, uint8_t byte, uint8_t code) {
    switch (*state) {
        case 0:
            if (byte == kAnswerStart) {
                *length = 0;
                *state = 1;
            }
            return true;
        case 1:
            // A stray start byte in front of the real one must not swallow it: the second one
            // starts the answer again instead of sending the parser back to looking.
            if (byte == code) {
                *state = 2;
            } else if (byte == kAnswerStart) {
                *length = 0;
            } else {
                *state = 0;
            }
            return true;
        case 2:
        case 3:
            *length = ShiftIn(*length, byte);
            ++*state;
            return true;
        default:
            return false;
    }
}

}  // namespace

int ParseClockAnswer(PrinterLink& link, int* state, uint32_t* length, uint8_t byte,
                     uint8_t out[8]) {
    if (ParseHeader(state, length, byte, kAnswerClock)) {
        if (*state == 1) {
            for (uint32_t i = 0; i < kClockLength; ++i) out[i] = 0;
        }
        return kParseNothing;
    }
    const int last = 3 + static_cast<int>(kClockLength);
    if (*state > last) return kParseNothing;
    if (*state == 4 && *length != kClockLength) {
        ShowMessage(link.GetHost(), "%s", kMsgCommandSizeIllegal);
        *state = 0;
        return kParseNothing;
    }
    out[*state - 4] = byte;
    return (*state)++ == last ? kParseDone : kParseNothing;
}

int ParseVersionAnswer(PrinterLink& link, int* state, uint32_t* length, uint8_t byte,
                       uint32_t out[4]) {
    if (ParseHeader(state, length, byte, kAnswerVersion)) {
        // The values are built by shifting, so a restarted answer must start from zero.
        if (*state == 1) {
            for (int i = 0; i < 4; ++i) out[i] = 0;
        }
        return kParseNothing;
    }
    const int last = 3 + static_cast<int>(kVersionLength);
    if (*state > last) return kParseNothing;
    if (*state == 4 && *length != kVersionLength) {
        ShowMessage(link.GetHost(), "%s", kMsgCommandSizeIllegal);
        *state = 0;
        return kParseNothing;
    }
    uint32_t& value = out[(*state - 4) / 4];
    value = ShiftIn(value, byte);
    return (*state)++ == last ? kParseDone : kParseNothing;
}

int ParseEepromAnswer(PrinterLink& link, uint8_t byte) {
    int& s = link.EepState;
    if (ParseHeader(&s, &link.LengthRegister, byte, kAnswerEeprom)) {
        if (s == 1) {
            link.EepBlockId = 0;
            link.EepSecondField = 0;
            link.EepDataSize = 0;
            link.EepDataCount = 0;
            link.EepChecksum = 0;
        }
        return kParseNothing;
    }
    if (s >= 4 && s <= 7) {
        link.EepBlockId = ShiftIn(link.EepBlockId, byte);
        ++s;
        return kParseRecordOnly;
    }
    if (s >= 8 && s <= 11) {
        link.EepSecondField = ShiftIn(link.EepSecondField, byte);
        ++s;
        return kParseRecordOnly;
    }
    if (s >= 12 && s <= 15) {
        link.EepDataSize = ShiftIn(link.EepDataSize, byte);
        ++s;
        return kParseRecordOnly;
    }
    if (s == 16) {
        if (uint64_t{link.EepDataSize} + kEepromOverhead != link.LengthRegister) {
            ShowMessage(link.GetHost(), "%s", kMsgEepromSizeMismatch);
            s = 0;
            return kParseNothing;
        }
        if (link.EepDataSize == 0) {
            // No data: this byte already belongs to the checksum.
            link.EepChecksum = ShiftIn(link.EepChecksum, byte);
            s = 19;
            return kParseRecordOnly;
        }
        link.EepDataCount = 1;
        s = link.EepDataCount < link.EepDataSize ? 17 : 18;
        return kParseData;
    }
    if (s == 17) {
        ++link.EepDataCount;
        if (link.EepDataCount >= link.EepDataSize) s = 18;
        return kParseData;
    }
    if (s >= 18 && s <= 21) {
        link.EepChecksum = ShiftIn(link.EepChecksum, byte);
        return s++ == 21 ? kParseDone : kParseRecordOnly;
    }
    return kParseNothing;
}

int ParseLogInfoAnswer(PrinterLink& link, int* state, uint8_t byte, uint8_t payload[16]) {
    if (ParseHeader(state, &link.LengthRegister, byte, kAnswerLogInfo)) return kParseNothing;
    const int last = 3 + static_cast<int>(kLogInfoLength);
    if (*state > last) return kParseNothing;
    if (*state == 4 && link.LengthRegister != kLogInfoLength) return kParseBadLength;
    payload[*state - 4] = byte;
    return (*state)++ == last ? kParseDone : kParseNothing;
}

int ParseLogDataAnswer(PrinterLink& link, int* state, uint8_t byte, uint8_t* lastFlag,
                       uint32_t* validCount, uint32_t* firstField) {
    if (ParseHeader(state, &link.LengthRegister, byte, kAnswerLogData)) {
        if (*state == 1) {
            *lastFlag = 0;
            *validCount = 0;
            *firstField = 0;
        }
        return kParseNothing;
    }
    const int s = *state;
    const int areaStart = 16;
    const int areaEnd = areaStart + static_cast<int>(kLogDataAreaSize);  // one past the last
    if (s >= areaEnd) return kParseNothing;
    ++*state;
    if (s <= 7) {
        *firstField = ShiftIn(*firstField, byte);
        if (s == 4 && link.LengthRegister != kLogDataPayloadLength) return kParseBadLength;
        return kParseNothing;
    }
    if (s <= 11) {
        *validCount = ShiftIn(*validCount, byte);
        return kParseNothing;
    }
    if (s == 12) {
        *lastFlag = byte;
        return kParseNothing;
    }
    if (s < areaStart) return kParseNothing;
    const uint32_t i = static_cast<uint32_t>(s - areaStart);
    const bool ends = i == kLogDataAreaSize - 1;
    if (i < *validCount) return ends ? kParseDone : kParseData;
    return ends ? kParseRecordOnly : kParseNothing;
}

namespace {

// The clock and version requests differ only in command and parser.
template <typename SendFn, typename ParseFn>
bool RunFixedRequest(PrinterLink& link, SendFn send, ParseFn parse) {
    if (!send()) return false;
    link.WaitAfterSend();
    link.ResetReader();
    int state = 0;
    uint32_t length = 0;
    for (;;) {
        uint8_t byte = 0;
        if (link.ReadByte(&byte) != kReadByteOk) return false;
        if (parse(&state, &length, byte) == kParseDone) return link.SkipToBlockEnd();
    }
}

}  // namespace

bool ReadClock(PrinterLink& link, uint8_t out[8]) {
    return RunFixedRequest(
        link, [&] { return link.SendClockRequest(); },
        [&](int* state, uint32_t* length, uint8_t byte) {
            return ParseClockAnswer(link, state, length, byte, out);
        });
}

bool ReadVersion(PrinterLink& link, uint32_t out[4]) {
    return RunFixedRequest(
        link, [&] { return link.SendVersionRequest(); },
        [&](int* state, uint32_t* length, uint8_t byte) {
            return ParseVersionAnswer(link, state, length, byte, out);
        });
}

bool ReadLogInfo(PrinterLink& link, std::string* out) {
    if (!link.SendLogInfoRequest()) {
        ShowMessage(link.GetHost(), "%s", kMsgLogInfoWriteError);
        return false;
    }
    link.ResetReader();
    // The printer gathers its log information slowly: two full waits.
    link.WaitAfterSend();
    link.WaitAfterSend();
    uint8_t payload[kLogInfoLength] = {};
    int state = 0;
    for (;;) {
        uint8_t byte = 0;
        if (link.ReadByte(&byte) != kReadByteOk) break;
        int result = ParseLogInfoAnswer(link, &state, byte, payload);
        if (result == kParseBadLength) break;
        if (result == kParseDone) {
            if (!link.SkipToBlockEnd()) break;
            out->assign(reinterpret_cast<const char*>(payload), 4);
            return true;
        }
    }
    ShowMessage(link.GetHost(), "%s", kMsgLogInfoReadFailed);
    return false;
}

bool ReadEepromBlock(PrinterLink& link, MemorySink& record, MemorySink& data, uint32_t* blockId,
                     uint32_t* checksum) {
    link.EepState = 0;
    *blockId = 0;
    *checksum = 0;
    record.Clear();
    data.Clear();
    for (;;) {
        uint8_t byte = 0;
        if (link.ReadByte(&byte) != kReadByteOk) return false;
        int result = ParseEepromAnswer(link, byte);
        // Back at the start (a new start byte, a wrong code, a size mismatch): whatever the
        // sinks hold belongs to an abandoned answer.
        if (link.EepState < 2) {
            record.Clear();
            data.Clear();
        }
        if (result == kParseNothing) continue;
        if (!record.WriteByte(byte)) return false;
        if (result == kParseData && !data.WriteByte(byte)) return false;
        if (result == kParseDone) {
            *blockId = link.EepBlockId;
            *checksum = link.EepChecksum;
            return true;
        }
    }
}

}  // namespace trawler
