// A scripted Spooler for the link's tests: queued raw-read blocks, injected failures, captured
// jobs.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <deque>
#include <string>
#include <vector>

#include "platform/spooler.h"

namespace trawler::testing {

class LinkFakeSpooler : public Spooler {
  public:
    // One scripted answer to a "HlPvRawReadTest" query.
    struct RawRead {
        uint32_t status = 0;         // the query's return; non-zero = failed query
        std::vector<uint8_t> block;  // written into the caller's buffer (at most its size)
        uint32_t needed = 0;         // reported block length
    };

    // Answer bytes behind a valid status header.
    static RawRead Block(const std::vector<uint8_t>& answer) {
        RawRead r;
        // Sized once and filled in place (growing a 4-byte vector by insert trips a false
        // array-bounds warning of GCC 12 at -O3).
        r.block.assign(4 + answer.size(), 0);
        std::copy(answer.begin(), answer.end(), r.block.begin() + 4);
        r.needed = static_cast<uint32_t>(r.block.size());
        return r;
    }
    static RawRead Empty() { return Block({}); }
    static RawRead Busy() {
        RawRead r;
        r.block = {1, 0, 0, 0, 0xEE, 0xEE};  // bytes behind a busy status must not be used
        r.needed = 6;
        return r;
    }
    static RawRead Failed() {
        RawRead r;
        r.status = kErrorGenFailure;
        return r;
    }

    // Queues a byte stream as raw-read blocks of at most `chunk` answer bytes each.
    void QueueStream(const std::vector<uint8_t>& bytes, size_t chunk = 512) {
        for (size_t at = 0; at < bytes.size(); at += chunk) {
            size_t n = bytes.size() - at < chunk ? bytes.size() - at : chunk;
            rawReads.push_back(Block(std::vector<uint8_t>(
                bytes.begin() + static_cast<long>(at), bytes.begin() + static_cast<long>(at + n))));
        }
    }

    bool EnumerateLocal(std::vector<PrinterRecord>*) override {
        calls.push_back("Enumerate");
        return false;
    }
    bool OpenPrinterHandle(const std::string& name, uint32_t access,
                           PrinterHandle* handle) override {
        calls.push_back("Open " + name);
        ++opens;
        if (openFails) {
            lastError = kErrorInvalidPrinterName;
            return false;
        }
        *handle = &handleTarget;
        openedName = name;
        return true;
    }
    bool ClosePrinterHandle(PrinterHandle handle) override {
        calls.push_back("Close");
        ++closes;
        return handle == &handleTarget;
    }
    bool StartDocument(PrinterHandle, const std::string& docName,
                       const std::string& dataType) override {
        calls.push_back("StartDoc");
        if (startDocFails) return false;
        jobs.push_back(Job{docName, dataType, {}, false, false, false});
        return true;
    }
    bool StartPrinterPage(PrinterHandle) override {
        calls.push_back("StartPage");
        if (startPageFails) return false;
        jobs.back().pageStarted = true;
        return true;
    }
    bool WriteToPrinter(PrinterHandle, const uint8_t* data, uint32_t length,
                        uint32_t* written) override {
        calls.push_back("Write");
        uint32_t n = length > shortWriteBy ? length - shortWriteBy : 0;
        jobs.back().bytes.assign(data, data + n);
        *written = n;
        return true;
    }
    bool EndPrinterPage(PrinterHandle) override {
        calls.push_back("EndPage");
        jobs.back().pageEnded = true;
        return true;
    }
    bool EndDocument(PrinterHandle) override {
        calls.push_back("EndDoc");
        if (!jobs.empty()) jobs.back().docEnded = true;
        return true;
    }
    uint32_t QueryPrinterData(PrinterHandle handle, const std::string& valueName, uint32_t* type,
                              uint8_t* buffer, uint32_t size, uint32_t* needed) override {
        calls.push_back("Query " + valueName);
        typesIn.push_back(*type);
        neededIn.push_back(*needed);
        if (handle != &handleTarget) return kErrorInvalidHandle;
        if (valueName == "HlPvCheck") {
            if (checkStatus != 0) {
                lastError = checkStatus;
                return checkStatus;
            }
            if (checkWrites && size > 0) buffer[0] = checkFirstByte;
            *needed = 4;
            return 0;
        }
        ++rawQueries;
        querySizes.push_back(size);
        RawRead r = Empty();
        if (!rawReads.empty()) {
            r = rawReads.front();
            rawReads.pop_front();
        }
        if (r.status != 0) {
            lastError = r.status;
            return r.status;
        }
        std::memcpy(buffer, r.block.data(), r.block.size() < size ? r.block.size() : size);
        *needed = r.needed;
        return 0;
    }
    uint32_t LastError() override { return lastError; }
    std::string ErrorText(uint32_t code) override {
        return code == kErrorGenFailure ? genFailureText : std::string();
    }

    struct Job {
        std::string docName;
        std::string dataType;
        std::vector<uint8_t> bytes;
        bool pageStarted;
        bool pageEnded;
        bool docEnded;
    };

    std::deque<RawRead> rawReads;
    std::vector<Job> jobs;
    std::vector<std::string> calls;
    std::vector<uint32_t> querySizes;
    std::vector<uint32_t> typesIn;
    std::vector<uint32_t> neededIn;
    int opens = 0;
    int closes = 0;
    int rawQueries = 0;
    bool openFails = false;
    bool startDocFails = false;
    bool startPageFails = false;
    uint32_t shortWriteBy = 0;
    uint32_t checkStatus = 0;
    bool checkWrites = true;
    uint8_t checkFirstByte = 0;
    uint32_t lastError = 0;
    std::string genFailureText = "A device attached to the system is not functioning.";
    std::string openedName;

  private:
    int handleTarget = 0;
};

}  // namespace trawler::testing
