// Fuzz target: arbitrary raw-read blocks through PrinterLink into every answer parser and
// request (clock, version, EEPROM blocks, log information, log data packets).
#include <cstddef>
#include <cstdint>

#include "fuzz/fuzz_answer_script.h"
#include "link/printer_link.h"
#include "support/recording_host.h"

using namespace trawler;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    testing::RecordingHost host;
    fuzz::ScriptedSpooler spooler(data, size);
    PrinterLink link(spooler, host);
    link.SetOneReadByte(fuzz::kScriptReadSizes[data[0] & 3]);
    // Short time-outs: an exhausted script must end each request after a few empty reads.
    link.EmptyReadCount = 2;
    link.ReadWaitMillisec = 1;
    link.WaitAfterSendMillisec = 1;
    if (!link.Open(fuzz::kScriptPrinter)) return 0;
    fuzz::RunAnswerSequence(link);
    for (const std::string& message : host.messages) FUZZ_CHECK(!message.empty());
    return 0;
}
