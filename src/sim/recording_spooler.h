// RecordingSpooler: a Spooler in front of another that writes the conversation down as a
// device description whose replay serves the same answers, read by read.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "link/link_settings.h"
#include "platform/spooler.h"
#include "sim/device_description.h"
#include "sim/recording_archive.h"

namespace trawler {

namespace sim {
struct RecordedAnswer;
struct RecordedPrinter;
}  // namespace sim

class RecordingSpooler : public Spooler {
  public:
    // Every call goes to `inner` and its result comes back unchanged. Answers longer than
    // kInlineAnswerBytes are streamed to side files beside `descriptionPath` as they are read.
    // A ".ztr" path is one file: description and side files are made in a temporary folder and
    // packed into it by WriteDescription.
    RecordingSpooler(Spooler& inner, std::string descriptionPath);
    ~RecordingSpooler() override;
    RecordingSpooler(const RecordingSpooler&) = delete;
    RecordingSpooler& operator=(const RecordingSpooler&) = delete;

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
    uint32_t LastError() override { return m_inner.LastError(); }
    std::string ErrorText(uint32_t code) override;

    // The link settings of the run: the reads depend on them, so the replay must use them too.
    void SetLinkSettings(const LinkSettings& settings) { m_settings = settings; }

    // Writes the description, created new (an existing file is never replaced), with `outcome`
    // as its note of how the run ended. False, with *error, when the description or a side
    // file could not be written whole. Calls after it still pass through, unrecorded.
    bool WriteDescription(const std::string& outcome, std::string* error);

    // Where a ".ztr" recorder packs its file, for one that learns the name only when the run
    // has ended (the wizard's); ignored by a recorder made for a description file.
    void SetArchivePath(const std::string& path) {
        if (m_temp) m_archivePath = path;
    }

    // The side files made so far, as the description names them (beside it).
    std::vector<std::string> SideFiles() const;

    static constexpr size_t kInlineAnswerBytes = 1024;

  private:
    struct OpenHandle {
        size_t printer = 0;
        bool docOpen = false;
        bool raw = false;
        std::vector<uint8_t> job;  // the bytes the spooler took
    };

    size_t PrinterNamed(const std::string& name);
    OpenHandle* FindHandle(PrinterHandle handle);
    uint32_t FailureCode();
    void TakeJob(const OpenHandle& open);
    void BeginAnswer(DeviceCommand command, uint32_t blockId);
    void RecordRawRead(uint32_t status, const uint8_t* buffer, uint32_t size, uint32_t needed);
    void RecordCheck(size_t printer, uint32_t status, const uint8_t* buffer, uint32_t size);
    void AppendAnswerBytes(sim::RecordedAnswer& answer, const uint8_t* data, size_t count);
    bool OpenSideFile(sim::RecordedAnswer& answer);
    bool CloseSideFiles();
    void NoteConversation(size_t printer);
    void Note(const std::string& text);

    Spooler& m_inner;
    std::string m_path;
    std::string m_folder;  // of the description, with its separator; empty: the working folder
    std::string m_stem;    // the description's name without ".json"
    std::vector<std::unique_ptr<sim::RecordedPrinter>> m_printers;
    std::map<uintptr_t, OpenHandle> m_handles;
    // The answers in the order their requests went out; the first holds what was read before
    // any request (the stale bytes).
    std::vector<std::unique_ptr<sim::RecordedAnswer>> m_answers;
    std::optional<LinkSettings> m_settings;
    std::map<uint32_t, std::string> m_errorTexts;
    std::vector<std::string> m_notes;
    std::string m_sideError;
    bool m_enumerated = false;
    std::optional<size_t> m_conversationPrinter;  // the printer whose answers are recorded
    bool m_written = false;
    std::string m_archivePath;  // a ".ztr" recorder's one file
    std::unique_ptr<TemporaryFolder> m_temp;
};

}  // namespace trawler
