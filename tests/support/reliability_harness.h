// Whole runs against the emulated PV-730 for the reliability tests: device, session, checks.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "acquire/log_run.h"
#include "acquire/session.h"
#include "link/link_settings.h"
#include "output/package_reader.h"
#include "platform/system.h"
#include "sim/device_answers.h"
#include "sim/device_description.h"
#include "sim/emulated_spooler.h"
#include "support/package_contents.h"
#include "support/recording_host.h"
#include "unit/output_test_support.h"

namespace trawler::testing {

constexpr char kReliabilityPrinter[] = "PV-730";
constexpr uint32_t kReliabilityUnit = 1234;
constexpr char kReliabilityCustomer[] = "ACME Printing";
constexpr char kReliabilityComment[] = "fuser replaced";

// The tags a complete run writes, with both texts entered.
inline const std::vector<std::string>& CompleteRunTags() {
    static const std::vector<std::string> tags = {"Cust", "Comm", "PCDT", "Date", "Vers", "B001",
                                                  "B002", "B003", "B004", "B005", "B006", "B010",
                                                  "B011", "B012", "B013", "LOGV", "LOGD", "ENDF"};
    return tags;
}

// The i-th log byte of the reliability devices: never the start byte 40, so a parser that
// loses its place cannot find a false answer inside the log and every outcome is exact.
inline uint8_t ReliabilityLogByte(uint64_t i) {
    uint8_t b = static_cast<uint8_t>((i * 37u + (i >> 8)) & 0xFF);
    return b == 0x40 ? 0x3F : b;
}

inline std::vector<uint8_t> ReliabilityLog(uint64_t size) {
    std::vector<uint8_t> log(static_cast<size_t>(size));
    for (uint64_t i = 0; i < size; ++i) log[static_cast<size_t>(i)] = ReliabilityLogByte(i);
    return log;
}

// The log a device sends, read through the emulator's own source (generated or a file).
inline std::vector<uint8_t> DeviceLog(const DeviceDescription& device) {
    std::vector<uint8_t> log;
    std::unique_ptr<sim::ByteSource> source = sim::OpenLog(device.log);
    if (!source) return log;
    uint8_t block[65536];
    for (size_t n; (n = source->Read(block, sizeof block)) > 0;)
        log.insert(log.end(), block, block + n);
    return log;
}

inline bool WriteLogFile(const std::string& path, uint64_t size) {
    std::vector<uint8_t> log = ReliabilityLog(size);
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(log.data()), static_cast<std::streamsize>(log.size()));
    return static_cast<bool>(out);
}

// The default device with answers free of stray start bytes (EEPROM data and sizes without
// 40), reads as large as the buffer allows, and the log streamed from logPath (empty path: a
// generated log of logSize bytes).
inline DeviceDescription ReliabilityDevice(const std::string& logPath, uint64_t logSize) {
    DeviceDescription d = DefaultDevice();
    for (EepromBlock& block : d.eeprom) {
        if (block.data.size() == 0x40) block.data.resize(0x44);
        for (uint8_t& b : block.data) {
            if (b == 0x40) b = 0x41;
        }
    }
    SetUnitNumber(&d, kReliabilityUnit);
    d.pacing.bytesPerRead = 1u << 16;
    if (logPath.empty()) {
        d.log.fromFile = false;
        d.log.size = logSize;
    } else {
        d.log.fromFile = true;
        d.log.path = logPath;
        d.log.size = logSize;
    }
    return d;
}

inline LinkSettings MakeSettings(int32_t emptyReadCount, int32_t oneReadByte) {
    LinkSettings s = DefaultLinkSettings();
    s.EmptyReadCount = emptyReadCount;
    s.OneReadByte = oneReadByte;
    return s;
}

inline std::vector<std::string> FilesIn(const std::string& folder) {
    std::vector<std::string> names;
    std::error_code ec;
    for (auto it = std::filesystem::directory_iterator(folder, ec);
         !ec && it != std::filesystem::directory_iterator(); it.increment(ec)) {
        names.push_back(it->path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

// A recording host whose pumps can act in the middle of a run (the folder vanishes, ...).
class HookedHost : public RecordingHost {
  public:
    void PumpMessages() override {
        RecordingHost::PumpMessages();
        if (onPump) onPump(pumps);
    }
    std::function<void(int)> onPump;
};

// A host that reports the real errno and its text, as the command line's host does: a
// failure whose error code is lost before it is shown then shows the wrong text.
class SystemErrorHost : public HookedHost {
  public:
    uint32_t LastError() override { return SystemLastError(); }
    std::string ErrorText(uint32_t code) override { return SystemErrorText(code); }
};

// One wizard session against one emulated device, with its own scratch folder.
template <typename HostType = HookedHost>
class ReliabilityRun {
  public:
    ReliabilityRun(DeviceDescription device, const LinkSettings& settings)
        : spooler(std::move(device), host), session(spooler, host), run(session) {
        ApplySettings(session.m_link, settings);
        session.SetPrinterName(kReliabilityPrinter);
        run.m_strFolder = folder.Folder();
        run.m_separator = '/';
        run.m_strCustomer = kReliabilityCustomer;
        run.m_strComment = kReliabilityComment;
    }

    RunResult Run() { return run.Run(view); }

    HostType host;
    ScratchFolder folder;
    EmulatedSpooler spooler;
    Session session;
    LogRun run;
    ReadingView view;
};

// The saved package passes the product's reader and holds what the device sent: every chunk
// in order, the clock, version, log information, unit number and the log byte for byte.
inline ::testing::AssertionResult PackageHoldsDevice(const std::string& path,
                                                     const DeviceDescription& device,
                                                     const std::vector<uint8_t>& log) {
    PackageReport report;
    if (!trawler::ReadPackage(path, &report)) {
        return ::testing::AssertionFailure()
               << "package reader: " << report.error.kind << ": " << report.error.message;
    }
    std::vector<std::string> tags;
    for (const ChunkEntry& c : report.chunks) tags.push_back(c.tag);
    if (tags != CompleteRunTags()) return ::testing::AssertionFailure() << "chunks differ";
    if (!report.hasClock ||
        !std::equal(device.clock.begin(), device.clock.end(), report.clock.begin())) {
        return ::testing::AssertionFailure() << "clock differs";
    }
    if (!report.hasVersion || report.version != device.version) {
        return ::testing::AssertionFailure() << "version differs";
    }
    if (!report.hasLogInfo || report.logInfo != device.logInfo) {
        return ::testing::AssertionFailure() << "log information differs";
    }
    if (!report.hasUnitNumber || report.unitNumber != kReliabilityUnit) {
        return ::testing::AssertionFailure() << "unit number differs";
    }
    if (report.eeprom.size() != device.eeprom.size()) {
        return ::testing::AssertionFailure() << report.eeprom.size() << " EEPROM blocks";
    }
    if (report.comment != kReliabilityComment || report.customer != kReliabilityCustomer) {
        return ::testing::AssertionFailure() << "texts differ";
    }
    // The reader checks the structure; the log bytes are compared through the plain reader.
    PackageContents plain = trawler::testing::ReadPackage(path);
    if (!plain.error.empty()) return ::testing::AssertionFailure() << plain.error;
    const Chunk* logd = plain.Find("LOGD");
    uint32_t padded = PaddedLength(static_cast<uint32_t>(log.size()));
    if (logd == nullptr || logd->length != padded || report.logLength != padded) {
        return ::testing::AssertionFailure() << "LOGD length differs from " << padded;
    }
    if (!std::equal(log.begin(), log.end(), logd->data.begin())) {
        return ::testing::AssertionFailure() << "LOGD bytes differ";
    }
    for (size_t i = log.size(); i < padded; ++i) {
        if (logd->data[i] != 0) return ::testing::AssertionFailure() << "padding not zero";
    }
    return ::testing::AssertionSuccess();
}

}  // namespace trawler::testing
