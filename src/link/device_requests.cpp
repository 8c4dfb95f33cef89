// The printer's answers: parsers fed one byte at a time, and the requests built on them.
//
// Every answer (integers big-endian):
//   offset 0, width 1: start byte 40
//   offset 1, width 1: answer code: 05 clock, 04 version, 07 EEPROM block, 0A log info, 06 log data
//   offset 2, width 2: payload length L
//   offset 4, width L: payload, then filler to the end of the answer's last 512-byte unit
// Payloads:
//   clock    (L = 8):  8 bytes, passed on unchanged
//   version  (L = 16): four 32-bit numbers at offsets 0, 4, 8, 12
//   EEPROM   (L = N + 16):
//     offset 0, width 4:       block ID
//     offset 4, width 4:       second field (kept in the record, not interpreted)
//     offset 8, width 4:       data size N
//     offset 12, width N:      data
//     offset 12 + N, width 4:  checksum (EepromChecksum of the data)
//   log info (L = 16): offsets 0..3 are the result (zero bytes included), 4..15 unused
//   log data (L = 1020):
//     offset 0, width 4:       first field (returned, not used)
//     offset 4, width 4:       valid count V
//     offset 8, width 1:       last-packet flag (1 = last packet)
//     offset 9, width 3:       not examined
//     offset 12, width 1008:   data area; its first V bytes are log data
#include "link/device_requests.h"

#include "platform/messages.h"

namespace trawler {

namespace {

constexpr uint32_t kClockLength = 8;
constexpr uint32_t kVersionLength = 16;
constexpr uint32_t kLogInfoLength = 16;
// Block ID, second field and N in front of the data, checksum behind it.
constexpr uint32_t kEepromOverhead = 16;

uint32_t Shift(uint32_t value, uint8_t byte) {
    return (value << 8) | byte;
}

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
            *length = Shift(*length, byte);
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
    value = Shift(value, byte);
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
        link.EepBlockId = Shift(link.EepBlockId, byte);
        ++s;
        return kParseRecordOnly;
    }
    if (s >= 8 && s <= 11) {
        link.EepSecondField = Shift(link.EepSecondField, byte);
        ++s;
        return kParseRecordOnly;
    }
    if (s >= 12 && s <= 15) {
        link.EepDataSize = Shift(link.EepDataSize, byte);
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
            link.EepChecksum = Shift(link.EepChecksum, byte);
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
        link.EepChecksum = Shift(link.EepChecksum, byte);
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
        *firstField = Shift(*firstField, byte);
        if (s == 4 && link.LengthRegister != kLogDataPayloadLength) return kParseBadLength;
        return kParseNothing;
    }
    if (s <= 11) {
        *validCount = Shift(*validCount, byte);
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

uint32_t EepromChecksum(const uint8_t* bytes, size_t count) {
    uint32_t sum = 0;
    for (size_t i = 0; i < count; i += 4) {
        uint32_t group = 0;
        for (size_t k = 0; k < 4; ++k) {
            group = Shift(group, i + k < count ? bytes[i + k] : 0);
        }
        sum += group;
    }
    return sum;
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
