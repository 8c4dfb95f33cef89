// The answer parsers: one byte in, a ParseResult out, the position kept in the parser's state.
#include "pv730/answer_parsers.h"

#include "platform/big_endian.h"

namespace trawler::pv730 {

namespace {

// The header states every answer shares. True when the byte was taken by them, with what it
// meant in *result; a parser resets its fields on kParseStart.
bool ParseHeader(int32_t* state, uint32_t* length, uint8_t byte, uint8_t code, int* result) {
    *result = kParseNothing;
    switch (*state) {
        case kSeekStart:
            if (byte == kAnswerStart) {
                *length = 0;
                *state = kExpectCode;
                *result = kParseStart;
            }
            return true;
        case kExpectCode:
            // A stray start byte in front of the real one must not swallow it: the second one
            // starts the answer again instead of sending the parser back to looking.
            if (byte == code) {
                *state = kLengthHigh;
            } else if (byte == kAnswerStart) {
                *result = kParseStart;
            } else {
                *state = kSeekStart;
                *result = kParseResync;
            }
            *length = 0;
            return true;
        case kLengthHigh:
        case kLengthLow:
            *length = ShiftIn(*length, byte);
            ++*state;
            return true;
        default:
            return false;
    }
}

// Clock and version: a fixed payload length, checked at its first byte, each payload byte
// handed to `take` with its index.
template <typename Take>
int ParseFixedAnswer(FixedAnswerParser* p, uint8_t byte, uint8_t code, uint32_t payloadLength,
                     Take take) {
    int header = kParseNothing;
    if (ParseHeader(&p->state, &p->length, byte, code, &header)) {
        if (header == kParseStart) take(-1, 0);  // a new answer: start from zero
        return header;
    }
    const int32_t last = kPayload + static_cast<int32_t>(payloadLength) - 1;
    if (p->state > last) return kParseNothing;
    if (p->state == kPayload && p->length != payloadLength) {
        p->state = kSeekStart;
        return kParseWrongSize;
    }
    take(p->state - kPayload, byte);
    return p->state++ == last ? kParseDone : kParseNothing;
}

}  // namespace

int ParseClockAnswer(FixedAnswerParser* parser, uint8_t byte, uint8_t out[kClockLength]) {
    return ParseFixedAnswer(parser, byte, kAnswerClock, kClockLength, [&](int i, uint8_t b) {
        if (i < 0) {
            for (uint32_t k = 0; k < kClockLength; ++k) out[k] = 0;
        } else {
            out[i] = b;
        }
    });
}

int ParseVersionAnswer(FixedAnswerParser* parser, uint8_t byte, uint32_t out[4]) {
    return ParseFixedAnswer(parser, byte, kAnswerVersion, kVersionLength, [&](int i, uint8_t b) {
        // The values are built by shifting, so a restarted answer must start from zero.
        if (i < 0) {
            for (int k = 0; k < 4; ++k) out[k] = 0;
        } else {
            out[i / 4] = ShiftIn(out[i / 4], b);
        }
    });
}

int ParseEepromAnswer(EepromParser* p, uint8_t byte) {
    // Payload states: block ID, second field and N (4 bytes each), the data, the checksum.
    constexpr int32_t kBlockId = kPayload;
    constexpr int32_t kSecondField = kBlockId + 4;
    constexpr int32_t kDataSize = kSecondField + 4;
    constexpr int32_t kFirstData = kDataSize + 4;
    constexpr int32_t kMoreData = kFirstData + 1;
    constexpr int32_t kChecksum = kMoreData + 1;
    constexpr int32_t kLastChecksum = kChecksum + 3;
    int header = kParseNothing;
    if (ParseHeader(&p->state, &p->length, byte, kAnswerEeprom, &header)) {
        if (header == kParseStart) *p = EepromParser{kExpectCode};
        return header;
    }
    const int32_t s = p->state;
    if (s < kSecondField) {
        p->blockId = ShiftIn(p->blockId, byte);
    } else if (s < kDataSize) {
        p->secondField = ShiftIn(p->secondField, byte);
    } else if (s < kFirstData) {
        p->dataSize = ShiftIn(p->dataSize, byte);
    } else if (s == kFirstData) {
        if (uint64_t{p->dataSize} + kEepromOverhead != p->length) {
            p->state = kSeekStart;
            return kParseWrongSize;
        }
        if (p->dataSize == 0) {
            // No data: this byte already belongs to the checksum.
            p->checksum = ShiftIn(p->checksum, byte);
            p->state = kChecksum + 1;
            return kParseRecordOnly;
        }
        p->dataCount = 1;
        p->state = p->dataCount < p->dataSize ? kMoreData : kChecksum;
        return kParseData;
    } else if (s == kMoreData) {
        if (++p->dataCount >= p->dataSize) p->state = kChecksum;
        return kParseData;
    } else if (s <= kLastChecksum) {
        p->checksum = ShiftIn(p->checksum, byte);
        return p->state++ == kLastChecksum ? kParseDone : kParseRecordOnly;
    } else {
        return kParseNothing;
    }
    ++p->state;
    return kParseRecordOnly;
}

int ParseLogInfoAnswer(LogInfoParser* p, uint8_t byte) {
    int header = kParseNothing;
    if (ParseHeader(&p->state, &p->length, byte, kAnswerLogInfo, &header)) return header;
    const int32_t last = kPayload + static_cast<int32_t>(kLogInfoLength) - 1;
    if (p->state > last) return kParseNothing;
    if (p->state == kPayload && p->length != kLogInfoLength) return kParseBadLength;
    p->payload[p->state - kPayload] = byte;
    return p->state++ == last ? kParseDone : kParseNothing;
}

int ParseLogDataAnswer(LogDataParser* p, uint8_t byte) {
    int header = kParseNothing;
    if (ParseHeader(&p->state, &p->length, byte, kAnswerLogData, &header)) {
        if (header == kParseStart) *p = LogDataParser{kExpectCode};
        return header;
    }
    // Packet offsets are the states: the header's four bytes are states 0 to 3.
    const uint32_t at = static_cast<uint32_t>(p->state);
    const uint32_t areaEnd = kLogDataOffset + kLogDataArea;  // one past the last
    if (at >= areaEnd) return kParseNothing;
    ++p->state;
    if (at < kLogValidCountOffset) {
        p->firstField = ShiftIn(p->firstField, byte);
        if (at == kLogFirstFieldOffset && p->length != kLogPacketLength) return kParseBadLength;
        return kParseNothing;
    }
    if (at < kLogLastFlagOffset) {
        p->validCount = ShiftIn(p->validCount, byte);
        return kParseNothing;
    }
    if (at == kLogLastFlagOffset) {
        p->lastFlag = byte;
        return kParseNothing;
    }
    if (at < kLogDataOffset) return kParseNothing;
    const uint32_t i = at - kLogDataOffset;
    const bool ends = i == kLogDataArea - 1;
    if (i < p->validCount) return ends ? kParseDone : kParseData;
    return ends ? kParseRecordOnly : kParseNothing;
}

}  // namespace trawler::pv730
