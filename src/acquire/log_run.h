// The log details page's run state and the acquisition run behind its Next button.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "acquire/session.h"
#include "output/log_container.h"

namespace trawler {

// What a run is doing, in the order a printer run goes through it.
enum class RunPhase {
    kOpen,  // the printer is opened, asked whether it is online and drained
    kClock,
    kVersion,
    kEeprom,  // one block: the block ID comes with it
    kLogInfo,
    kLog,   // the log streams: LogBytesRead follows each packet
    kSave,  // all was read: the container is ended and packaged
};

// The phase's name as the line protocol of collect and the desk's recording summaries give it:
// a front end matches these, so they never change.
const char* RunPhaseWord(RunPhase phase);

// How a run ended.
struct RunResult {
    enum Outcome {
        kSaved,    // the package is at `packagePath`
        kRefused,  // nothing was read: no folder, the package name is taken, or no container
        kFailed,   // the run stopped; no package was kept
    };
    Outcome outcome = kFailed;
    std::string packagePath;
    // kFailed: the phase the run was in when it stopped; empty when it stopped before the
    // printer was reached (the comment record).
    std::optional<RunPhase> phase;

    bool Saved() const { return outcome == kSaved; }
};

// The windows around a run; the command line and the tests leave them as they are.
class ReadingView {
  public:
    virtual ~ReadingView() = default;
    // Wait cursor on, Back and Next disabled, Browse disabled.
    virtual void BeginReading() {}
    // The modeless "Reading Log" dialog is created (its bar is driven through the Host).
    virtual void ShowProgressDialog() {}
    // The dialog's window is destroyed.
    virtual void CloseProgressDialog() {}
    // Wait cursor off, Back and Next enabled again, the dialog object destroyed.
    virtual void EndReading() {}
    // Browse enabled (also after the early exits).
    virtual void EnableBrowse() {}
    // For a front end that says what is happening: the wizard's dialog shows only its bar, so
    // it leaves these empty. blockId is the EEPROM block's ID for kEeprom, else 0.
    virtual void PhaseBegins(RunPhase /*phase*/, uint32_t /*blockId*/) {}
    // After each log packet: the log bytes kept so far. The log's size is not known before its
    // last packet, so this is a count, not a fraction.
    virtual void LogBytesRead(uint32_t /*total*/) {}
};

class LogRun {
  public:
    explicit LogRun(Session& session);

    // The run: takes the folder and both texts from the members (the page's UpdateData has
    // copied them). A saved package's path is also left in the session's m_strSavedPath.
    RunResult Run(ReadingView& view);

    // The capture phases and their helpers, on the members below.
    bool CaptureVersionAndEeprom();
    // One block's record, accepted only when complete, of the requested ID and checksum.
    std::vector<uint8_t> EepRead(uint32_t blockId, bool* ok);
    bool CaptureLog();
    bool LogRead(uint32_t* total);
    // `sealed`: an earlier packet was read, so this one must begin with the very next byte.
    bool ReadLogPacket(bool sealed, uint8_t* lastFlag, uint32_t* validCount, uint32_t* firstField);

    bool m_bReading = false;
    LogContainer m_container;
    std::string m_strLogInfo;
    std::string m_strFolder;
    // No run has read block 0x8013 yet: 0 keeps the name defined ("No0_").
    uint32_t m_unitNumber = 0;
    bool m_bBrowsing = false;
    std::string m_strPackagePath;
    std::string m_strCustomer;  // stored as "Comm"
    std::string m_strComment;   // stored as "Cust"

    // Between folder and file name: a backslash on Windows, as the technician sees it.
    char m_separator;

  private:
    class Unwind;
    // The comment record and, in printer mode, the two capture phases: true when all of it was
    // read (the container may still be damaged).
    bool Capture();
    // Ends the container and makes the package of a captured run, or removes the container.
    bool Package(bool captured, const std::string& containerPath);
    void BeginPhase(RunPhase phase, uint32_t blockId);

    Session& m_session;
    uint32_t m_logBytesKept = 0;
    std::optional<RunPhase> m_phase;
    // The view of the run in progress; the capture phases called on their own (tests,
    // benchmarks) report to one that ignores it.
    ReadingView m_noView;
    ReadingView* m_view = &m_noView;
};

}  // namespace trawler
