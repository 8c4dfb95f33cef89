// The firmware's side of the answers: each answer and log packet laid out as the PV-730 sends
// it (pv730/protocol.h), for the emulator, which adds its faults, stray bytes and filler.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "pv730/protocol.h"

namespace trawler::pv730 {

// Start byte, code and payload length L, then L zero bytes for the payload.
std::vector<uint8_t> AnswerWithPayload(uint8_t code, uint32_t payloadLength);
// Overwrite a built answer's (or packet's) header fields.
void SetAnswerCode(uint8_t* answer, uint8_t code);
void SetAnswerLength(uint8_t* answer, uint32_t payloadLength);

std::vector<uint8_t> ClockAnswer(const std::array<uint8_t, kClockLength>& clock);
std::vector<uint8_t> VersionAnswer(const std::array<uint32_t, 4>& version);
// The record's fields as given: a faulty printer may send an ID, N or checksum that does not
// belong to the data.
struct EepromRecordFields {
    uint32_t blockId = 0;
    uint32_t secondField = 0;
    uint32_t dataSize = 0;
    uint32_t checksum = 0;
};
std::vector<uint8_t> EepromAnswer(const EepromRecordFields& fields,
                                  const std::vector<uint8_t>& data);
std::vector<uint8_t> LogInfoAnswer(const std::array<uint8_t, kLogInfoKept>& info);

// How many packets carry a log of `size` bytes: at least one, which may hold nothing.
uint64_t LogPacketCount(uint64_t size);
// The header of packet `index` of `count` into a zeroed kLogPacketSize-byte packet that holds
// `valid` log bytes; the caller puts them at kLogDataOffset.
void PutLogPacketHeader(uint8_t* packet, uint64_t index, uint64_t count, uint32_t valid);
// Overwrite a packet's valid count V.
void SetLogValidCount(uint8_t* packet, uint32_t validCount);

}  // namespace trawler::pv730
