// EmulatedSpooler: the print spooler with PV-730 queues behind it, driver and firmware included.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/host.h"
#include "platform/spooler.h"
#include "sim/device_description.h"

namespace trawler {

namespace sim {
class AnswerStream;
struct AnswerEdits;
struct Emission;
}  // namespace sim

// One print job as the spooler received it.
struct CapturedJob {
    std::string printer;
    std::string docName;
    std::string dataType;
    std::vector<uint8_t> bytes;  // as written (a short write keeps only the bytes it took)
    int pages = 0;
    bool ended = false;  // EndDocument was called (a job dropped by a close stays false)
};

// One command the firmware took from a job.
struct ReceivedCommand {
    std::string printer;
    DeviceCommand command = DeviceCommand::kClock;
    uint32_t blockId = 0;
    size_t job = 0;         // index into Jobs()
    bool answered = false;  // false when a fault (or an unknown block) kept it unanswered
};

// What the emulator saw, for tests and the command line's diagnostics.
struct EmulatorStats {
    uint32_t enumerations = 0;
    uint32_t opens = 0;  // successful opens
    uint32_t openFailures = 0;
    uint32_t closes = 0;
    uint32_t jobStartFailures = 0;
    uint32_t checks = 0;    // online value queries
    uint32_t rawReads = 0;  // raw-read value queries, failed ones included
    uint32_t emptyReads = 0;
    uint32_t busyReads = 0;
    uint32_t failedQueries = 0;  // raw reads and checks that returned an error
    uint32_t otherQueries = 0;   // value names the driver does not know
    uint64_t answerBytesServed = 0;
    size_t peakStagedBytes = 0;  // most answer bytes held in memory at one time
};

// Whether Windows lets `user` open a printer with the desired `access`.
bool MayOpen(PcUser user, uint32_t access);

class EmulatedSpooler : public Spooler {
  public:
    // The host's MonotonicMillis is the printer's clock for the answer delay and the rate.
    EmulatedSpooler(DeviceDescription device, Host& host);
    ~EmulatedSpooler() override;
    EmulatedSpooler(const EmulatedSpooler&) = delete;
    EmulatedSpooler& operator=(const EmulatedSpooler&) = delete;

    bool EnumerateLocal(std::vector<PrinterRecord>* records) override;
    bool OpenPrinterHandle(const std::string& name, uint32_t access,
                           PrinterHandle* handle) override;
    bool ClosePrinterHandle(PrinterHandle handle) override;
    bool StartDocument(PrinterHandle handle, const std::string& docName,
                       const std::string& dataType) override;
    bool StartPrinterPage(PrinterHandle handle) override;
    bool WriteToPrinter(PrinterHandle handle, const uint8_t* data, uint32_t length,
                        uint32_t* written) override;
    bool EndPrinterPage(PrinterHandle handle) override;
    bool EndDocument(PrinterHandle handle) override;
    uint32_t QueryPrinterData(PrinterHandle handle, const std::string& valueName, uint32_t* type,
                              uint8_t* buffer, uint32_t size, uint32_t* needed) override;
    uint32_t LastError() override { return m_lastError; }
    std::string ErrorText(uint32_t code) override;

    const std::vector<CapturedJob>& Jobs() const { return m_jobs; }
    const std::vector<ReceivedCommand>& Commands() const { return m_commands; }
    const EmulatorStats& Stats() const { return m_stats; }
    size_t OpenHandleCount() const { return m_handles.size(); }
    // Answers the printer has queued and not yet handed out completely.
    size_t PendingAnswers(const std::string& printer) const;
    uint64_t PendingAnswerBytes(const std::string& printer) const;
    // Plugs a printer in or out while the emulator runs.
    void SetOnline(const std::string& printer, bool online);
    const DeviceDescription& Device() const { return m_device; }

    // The status byte of a raw-read block while the driver is busy.
    static constexpr uint8_t kBusyStatus = 0x01;
    // The status byte of the online value for an offline printer.
    static constexpr uint8_t kOfflineStatus = 0x01;

  private:
    struct PrinterState;
    struct FaultState;
    struct OpenHandle {
        size_t printer = 0;
        bool docOpen = false;
        size_t job = 0;
    };

    PrinterState* FindPrinter(const std::string& name, size_t* index);
    OpenHandle* FindHandle(PrinterHandle handle);
    bool Fail(uint32_t code);
    bool FaultFires(FaultState& state, const std::string& printer);
    // The first fault of this kind that fires on one event (open, job, read...) of the printer.
    const Fault* FirstFiring(FaultKind kind, const std::string& printer);
    void TakeCommand(size_t printer, DeviceCommand command, uint32_t blockId, size_t job);
    const EepromBlock* FindBlock(DeviceCommand command, uint32_t blockId) const;
    const ReplayedAnswer* FindReplay(DeviceCommand command, uint32_t blockId) const;
    // The answer faults that fire on this command: for the log's packets one by one.
    void CollectEdits(const std::string& printer, DeviceCommand command, uint32_t blockId,
                      bool perPacket, sim::AnswerEdits* edits,
                      std::map<uint64_t, sim::AnswerEdits>* packetEdits);
    void ReplayEmission(const ReplayedAnswer& replay, const sim::AnswerEdits& edits,
                        sim::Emission* emission);
    // False when the log cannot be opened (the printer then stays silent).
    bool LogEmission(const std::map<uint64_t, sim::AnswerEdits>& packetEdits,
                     sim::Emission* emission);
    void FixedEmission(DeviceCommand command, const EepromBlock* block,
                       const sim::AnswerEdits& edits, sim::Emission* emission);
    uint32_t Check(PrinterState& printer, uint8_t* buffer, uint32_t size, uint32_t* needed);
    uint32_t RawRead(PrinterState& printer, uint8_t* buffer, uint32_t size, uint32_t* needed);
    void NoteStaged();

    DeviceDescription m_device;
    Host& m_host;
    std::vector<std::unique_ptr<PrinterState>> m_printers;
    std::vector<std::unique_ptr<FaultState>> m_faults;
    std::map<uintptr_t, OpenHandle> m_handles;
    uintptr_t m_nextHandle = 0x1000;
    uint32_t m_lastError = 0;
    std::vector<CapturedJob> m_jobs;
    std::vector<ReceivedCommand> m_commands;
    EmulatorStats m_stats;
};

}  // namespace trawler
