// The printer's answers (layouts in pv730/protocol.h): parsers fed one byte at a time, and the
// requests built on them.
#include "pv730/device_requests.h"

#include "platform/messages.h"

namespace trawler::pv730 {

namespace {

// The clock and version requests differ only in command and parser.
template <typename SendFn, typename ParseFn>
bool RunFixedRequest(PrinterLink& link, SendFn send, ParseFn parse) {
    if (!send()) return false;
    link.WaitAfterSend();
    link.ResetReader();
    FixedAnswerParser parser;
    for (;;) {
        uint8_t byte = 0;
        if (link.ReadByte(&byte) != kReadByteOk) return false;
        switch (parse(&parser, byte)) {
            case kParseDone:
                return link.SkipToBlockEnd();
            case kParseWrongSize:
                // The answer is dropped; a well-formed one may still follow.
                ShowMessage(link.GetHost(), "%s", kMsgCommandSizeIllegal);
                break;
            default:
                break;
        }
    }
}

}  // namespace

bool ReadClock(PrinterLink& link, uint8_t out[8]) {
    return RunFixedRequest(
        link, [&] { return link.SendClockRequest(); },
        [&](FixedAnswerParser* parser, uint8_t byte) {
            return ParseClockAnswer(parser, byte, out);
        });
}

bool ReadVersion(PrinterLink& link, uint32_t out[4]) {
    return RunFixedRequest(
        link, [&] { return link.SendVersionRequest(); },
        [&](FixedAnswerParser* parser, uint8_t byte) {
            return ParseVersionAnswer(parser, byte, out);
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
    LogInfoParser parser;
    for (;;) {
        uint8_t byte = 0;
        if (link.ReadByte(&byte) != kReadByteOk) break;
        int result = ParseLogInfoAnswer(&parser, byte);
        if (result == kParseBadLength) break;
        if (result == kParseDone) {
            if (!link.SkipToBlockEnd()) break;
            out->assign(reinterpret_cast<const char*>(parser.payload), pv730::kLogInfoKept);
            return true;
        }
    }
    ShowMessage(link.GetHost(), "%s", kMsgLogInfoReadFailed);
    return false;
}

bool ReadEepromBlock(PrinterLink& link, MemorySink& record, MemorySink& data, uint32_t* blockId,
                     uint32_t* checksum) {
    EepromParser parser;
    *blockId = 0;
    *checksum = 0;
    record.Clear();
    data.Clear();
    for (;;) {
        uint8_t byte = 0;
        if (link.ReadByte(&byte) != kReadByteOk) return false;
        int result = ParseEepromAnswer(&parser, byte);
        // Back at the start (a new start byte, a wrong code, a size mismatch): whatever the
        // sinks hold belongs to an abandoned answer.
        if (result == kParseStart || result == kParseResync || result == kParseWrongSize) {
            record.Clear();
            data.Clear();
        }
        if (result == kParseWrongSize) {
            ShowMessage(link.GetHost(), "%s", kMsgEepromSizeMismatch);
            continue;
        }
        if (result == kParseNothing || result == kParseStart || result == kParseResync) continue;
        if (!record.WriteByte(byte)) return false;
        if (result == kParseData && !data.WriteByte(byte)) return false;
        if (result == kParseDone) {
            *blockId = parser.blockId;
            *checksum = parser.checksum;
            return true;
        }
    }
}

}  // namespace trawler::pv730
