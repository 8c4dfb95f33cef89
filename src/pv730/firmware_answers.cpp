// The answers' layouts as the firmware writes them (pv730/protocol.h); integers big-endian.
#include "pv730/firmware_answers.h"

#include <algorithm>
#include <cstring>

#include "platform/big_endian.h"

namespace trawler::pv730 {

std::vector<uint8_t> AnswerWithPayload(uint8_t code, uint32_t payloadLength) {
    std::vector<uint8_t> answer(kAnswerHeader + payloadLength, 0);
    answer[0] = kAnswerStart;
    SetAnswerCode(answer.data(), code);
    SetAnswerLength(answer.data(), payloadLength);
    return answer;
}

void SetAnswerCode(uint8_t* answer, uint8_t code) {
    answer[kAnswerCodeOffset] = code;
}

void SetAnswerLength(uint8_t* answer, uint32_t payloadLength) {
    PutBig16(answer + kAnswerLengthOffset, payloadLength);
}

std::vector<uint8_t> ClockAnswer(const std::array<uint8_t, kClockLength>& clock) {
    std::vector<uint8_t> answer = AnswerWithPayload(kAnswerClock, kClockLength);
    std::copy(clock.begin(), clock.end(), answer.begin() + kAnswerHeader);
    return answer;
}

std::vector<uint8_t> VersionAnswer(const std::array<uint32_t, 4>& version) {
    std::vector<uint8_t> answer = AnswerWithPayload(kAnswerVersion, kVersionLength);
    for (size_t i = 0; i < version.size(); ++i) {
        PutBig32(&answer[kAnswerHeader + 4 * i], version[i]);
    }
    return answer;
}

std::vector<uint8_t> EepromAnswer(const EepromRecordFields& fields,
                                  const std::vector<uint8_t>& data) {
    const uint32_t n = static_cast<uint32_t>(data.size());
    std::vector<uint8_t> answer = AnswerWithPayload(kAnswerEeprom, n + kEepromOverhead);
    uint8_t* record = &answer[kAnswerHeader];
    PutBig32(record, fields.blockId);
    PutBig32(record + kEepromSecondFieldOffset, fields.secondField);
    PutBig32(record + kEepromSizeOffset, fields.dataSize);
    if (n != 0) std::memcpy(record + kEepromDataOffset, data.data(), n);
    PutBig32(record + kEepromDataOffset + n, fields.checksum);
    return answer;
}

std::vector<uint8_t> LogInfoAnswer(const std::array<uint8_t, kLogInfoKept>& info) {
    std::vector<uint8_t> answer = AnswerWithPayload(kAnswerLogInfo, kLogInfoLength);
    std::copy(info.begin(), info.end(), answer.begin() + kAnswerHeader);
    return answer;
}

uint64_t LogPacketCount(uint64_t size) {
    return size == 0 ? 1 : (size + kLogDataArea - 1) / kLogDataArea;
}

void PutLogPacketHeader(uint8_t* packet, uint64_t index, uint64_t count, uint32_t valid) {
    packet[0] = kAnswerStart;
    SetAnswerCode(packet, kAnswerLogData);
    SetAnswerLength(packet, kLogPacketLength);
    // The first field is the printer's own; the emulator numbers the packets in it.
    PutBig32(packet + kLogFirstFieldOffset, static_cast<uint32_t>(index));
    SetLogValidCount(packet, valid);
    packet[kLogLastFlagOffset] = index + 1 == count ? kLogLastPacket : 0;
}

void SetLogValidCount(uint8_t* packet, uint32_t validCount) {
    PutBig32(packet + kLogValidCountOffset, validCount);
}

}  // namespace trawler::pv730
