// Benchmarks of a collection: capture throughput, packaging, peak memory and a paced run.
//   collect_bench capture MIB FOLDER   capture a MIB-mebibyte log with every wait 0, then time
//                                      gzip -6 and MakeZlg on the container
//   collect_bench paced MIB FOLDER     a run against an emulator paced like a real printer
//                                      (about 1 MB/s) with the registry's default settings
// Each prints "key value" lines; peak RSS is the process's own (ru_maxrss).
#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "acquire/log_run.h"
#include "acquire/session.h"
#include "link/link_settings.h"
#include "output/package.h"
#include "platform/console_host.h"
#include "sim/device_description.h"
#include "sim/emulated_spooler.h"

namespace {

using Clock = std::chrono::steady_clock;
using trawler::ConsoleHost;
using trawler::DeviceDescription;
using trawler::EmulatedSpooler;
using trawler::LinkSettings;
using trawler::LogRun;
using trawler::Session;

double Seconds(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

double CpuSeconds() {
    struct rusage usage;
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_utime.tv_sec + usage.ru_utime.tv_usec / 1e6 + usage.ru_stime.tv_sec +
           usage.ru_stime.tv_usec / 1e6;
}

long PeakRssKiB() {
    struct rusage usage;
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

double TimeCommand(const std::string& command) {
    auto start = Clock::now();
    if (std::system(command.c_str()) != 0) std::fprintf(stderr, "failed: %s\n", command.c_str());
    return Seconds(start);
}

// Every wait of the protocol set to 0, so only the work itself is timed.
LinkSettings NoWaits() {
    LinkSettings s = trawler::DefaultLinkSettings();
    s.ReadWaitMillisec = 0;
    s.WaitAfterSendMillisec = 0;
    return s;
}

int Capture(uint64_t mib, const std::string& folder) {
    ConsoleHost host;
    DeviceDescription device = trawler::DefaultDevice();
    device.log.size = mib << 20;
    EmulatedSpooler spooler(device, host);
    Session session(spooler, host);
    trawler::ApplySettings(session.m_link, NoWaits());
    session.SetPrinterName(device.printers.front().name.c_str());
    LogRun run(session);

    const std::string container = folder + "/capture.zlg.tmp";
    const std::string package = folder + "/capture.zlg";
    std::filesystem::remove(package);
    if (!run.m_container.Create(container)) return 1;
    auto start = Clock::now();
    bool ok = run.CaptureVersionAndEeprom() && run.CaptureLog();
    double capture = Seconds(start);
    run.m_container.WriteEnd();
    run.m_container.Close();
    if (!ok) return 1;

    double gzip = TimeCommand("gzip -6 -c '" + container + "' > /dev/null");
    start = Clock::now();
    int rc = trawler::MakeZlg(host, container, package);
    double makeZlg = Seconds(start);
    std::filesystem::remove(package);
    if (rc != 0) return 1;

    std::printf("log_mib %llu\n", static_cast<unsigned long long>(mib));
    std::printf("capture_s %.3f\n", capture);
    std::printf("gzip6_s %.3f\n", gzip);
    std::printf("makezlg_s %.3f\n", makeZlg);
    std::printf("capture_over_gzip %.3f\n", capture / gzip);
    std::printf("makezlg_over_gzip %.3f\n", makeZlg / gzip);
    std::printf("peak_rss_kib %ld\n", PeakRssKiB());
    return 0;
}

int Paced(uint64_t mib, const std::string& folder) {
    ConsoleHost host;
    DeviceDescription device = trawler::DefaultDevice();
    device.log.size = mib << 20;
    device.pacing.bytesPerSecond = 1000000;
    EmulatedSpooler spooler(device, host);
    Session session(spooler, host);
    LinkSettings settings = trawler::DefaultLinkSettings();
    trawler::ApplySettings(session.m_link, settings);
    session.SetPrinterName(device.printers.front().name.c_str());
    LogRun run(session);
    run.m_strFolder = folder;
    run.m_separator = '/';

    double cpuBefore = CpuSeconds();
    auto start = Clock::now();
    trawler::ReadingView view;
    const bool saved = run.Run(view).Saved();
    double wall = Seconds(start);
    double cpu = CpuSeconds() - cpuBefore;
    if (!saved) return 1;
    std::filesystem::remove(session.m_strSavedPath);

    // The floor: the waits the protocol mandates on a printer with nothing to drain, and for
    // each request the longer of its wait after sending and the time the printer needs to
    // send its answer at its rate (the answer arrives while the reader waits).
    const double rate = device.pacing.bytesPerSecond;
    const double wait = settings.WaitAfterSendMillisec / 1000.0;
    auto units = [](uint64_t answer) { return double((answer + 511) / 512 * 512); };
    auto request = [&](double waits, double bytes) { return std::max(waits * wait, bytes / rate); };
    const uint64_t packets = device.log.size == 0 ? 1 : (device.log.size + 1007) / 1008;
    double floor = (settings.EmptyReadCount - 1) * settings.ReadWaitMillisec / 1000.0;
    floor += request(1, units(4 + 8)) + request(1, units(4 + 16));
    for (const auto& block : device.eeprom) floor += request(1, units(20 + block.data.size()));
    floor += request(2, units(4 + 16)) + request(1, double(packets) * 1024);
    std::printf("log_mib %llu\n", static_cast<unsigned long long>(mib));
    std::printf("wall_s %.3f\n", wall);
    std::printf("floor_s %.3f\n", floor);
    std::printf("wall_over_floor %.4f\n", wall / floor);
    std::printf("cpu_s %.3f\n", cpu);
    std::printf("cpu_over_floor %.4f\n", cpu / floor);
    std::printf("peak_rss_kib %ld\n", PeakRssKiB());
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: collect_bench capture|paced MIB FOLDER\n");
        return 2;
    }
    std::string mode = argv[1];
    uint64_t mib = std::strtoull(argv[2], nullptr, 10);
    std::string folder = argv[3];
    std::filesystem::create_directories(folder);
    if (mode == "capture") return Capture(mib, folder);
    if (mode == "paced") return Paced(mib, folder);
    std::fprintf(stderr, "unknown mode %s\n", mode.c_str());
    return 2;
}
