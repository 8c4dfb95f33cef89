// A recording's replay at intake, in a child process that the desk bounds and cleans up after.
#include "desk/recording_replay.h"

#include <fcntl.h>
#include <ftw.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <nlohmann/json.hpp>

#include "acquire/log_run.h"
#include "acquire/printer_search.h"
#include "acquire/session.h"
#include "link/link_settings.h"
#include "output/package_report.h"
#include "platform/console_host.h"
#include "platform/system.h"
#include "pv730/device_requests.h"
#include "sim/emulated_spooler.h"
#include "sim/recording_archive.h"

extern char** environ;

namespace trawler::desk {

namespace {

using Json = nlohmann::ordered_json;

// The most a child may print: a summary is a few kilobytes; more is a recording that makes the
// run show boxes without end.
constexpr size_t kMaxChildOutput = size_t{4} << 20;
// The most any one file the child writes may hold (an unpacked side file, the replay's package).
constexpr rlim_t kReplayFileBytes = rlim_t{1} << 30;

// The command line's host with the boxes kept instead of printed and time that only passes in
// Sleep: the emulator paces itself on MonotonicMillis, so a recording that asks for long delays
// costs no real time, and the texts are those collect --device prints.
class ReplayHost : public ConsoleHost {
  public:
    void ShowMessage(const std::string& text) override { messages.push_back(text); }
    void Sleep(uint32_t milliseconds) override { m_millis += milliseconds; }
    uint64_t MonotonicMillis() override { return m_millis; }

    std::vector<std::string> messages;

  private:
    uint64_t m_millis = 0;
};

// Where the run was when it stopped.
class PhaseView : public ReadingView {
  public:
    void PhaseBegins(RunPhase phase, uint32_t blockId) override {
        last = phase;
        block = blockId;
    }
    std::optional<RunPhase> last;
    uint32_t block = 0;
};

// The printer's clock as the recording answered it. The run wrote it into a container that a
// failed run removes, so a second replay asks for it the same way the run did.
std::string ReplayedClock(const DeviceDescription& device, const LinkSettings& settings,
                          const std::string& printer) {
    ReplayHost host;
    EmulatedSpooler spooler(device, host);
    Session session(spooler, host);
    ApplySettings(session.m_link, settings);
    session.SetPrinterName(printer.c_str());
    uint8_t clock[8] = {};
    const bool read = session.OpenAndCheck() == 1 && pv730::ReadClock(session.m_link, clock);
    session.CloseLink();
    return read ? HexText(clock, sizeof clock, "") : std::string();
}

int RemoveEntry(const char* path, const struct stat*, int, struct FTW*) {
    std::remove(path);
    return 0;
}

}  // namespace

std::string RecordingSummary::ToJson() const {
    Json j;
    j["outcome"] = outcome;
    j["phase"] = phase.empty() ? Json(nullptr) : Json(phase);
    char id[16] = {};
    if (block) std::snprintf(id, sizeof id, "0x%04X", static_cast<unsigned>(*block));
    j["block"] = block ? Json(id) : Json(nullptr);
    j["messages"] = messages;
    j["unit_number"] = unit ? Json(*unit) : Json(nullptr);
    j["clock"] = clock.empty() ? Json(nullptr) : Json(clock);
    return j.dump(-1, ' ', false, Json::error_handler_t::replace);
}

bool RecordingSummary::FromJson(const std::string& text, RecordingSummary* s) {
    const Json j = Json::parse(text, nullptr, false);
    if (!j.is_object() || !j.contains("outcome") || !j["outcome"].is_string() ||
        !j.contains("messages") || !j["messages"].is_array()) {
        return false;
    }
    *s = RecordingSummary();
    s->outcome = j["outcome"].get<std::string>();
    if (j.value("phase", Json()).is_string()) s->phase = j["phase"].get<std::string>();
    if (j.value("block", Json()).is_string()) {
        s->block =
            static_cast<uint32_t>(std::strtoul(j["block"].get<std::string>().c_str(), nullptr, 16));
    }
    for (const Json& m : j["messages"]) {
        if (!m.is_string()) return false;
        s->messages.push_back(m.get<std::string>());
    }
    if (j.value("unit_number", Json()).is_number_unsigned()) {
        s->unit = j["unit_number"].get<uint32_t>();
    }
    if (j.value("clock", Json()).is_string()) s->clock = j["clock"].get<std::string>();
    return true;
}

// The same steps as trawler-cli collect --device FILE, in the same order, so that the boxes are
// the ones it shows: the recorded link settings, the first online printer, the run.
// The summary holds no field text, so a token without the field-texts right may read it whole:
// the run is given no customer, comment or PC text, its boxes are the program's own fixed texts
// (the one with a path names the replay's own folder), and the printer's name is not kept.
bool ReplayRecordingHere(const std::string& path, RecordingSummary* summary, std::string* error) {
    UnpackedRecording unpacked;
    std::string loadError;
    DeviceDescription device = LoadRecordedDevice(path, &unpacked, &loadError);
    if (!loadError.empty()) {
        *error = "not a recording that replays: " + loadError;
        return false;
    }
    TemporaryFolder folder;
    if (!folder.Ok()) {
        *error = "cannot make a folder for the replay";
        return false;
    }
    const LinkSettings settings = device.linkSettings.value_or(DefaultLinkSettings());
    ReplayHost host;
    EmulatedSpooler spooler(device, host);
    Session session(spooler, host);
    ApplySettings(session.m_link, settings);
    *summary = RecordingSummary();
    summary->outcome = "failed";
    std::vector<std::string> names = FindOnlinePv730Printers(spooler, &IsAnsiLeadByte);
    if (names.empty()) {
        host.ShowMessage(kPrinterNotFoundText);
        summary->messages = host.messages;
        return true;
    }
    const std::string printer = *std::min_element(names.begin(), names.end(), ListOrderLess);
    session.SetPrinterName(printer.c_str());
    LogRun run(session);
    run.m_strFolder = folder.Folder();
    PhaseView view;
    const RunResult result = run.Run(view);
    if (result.Saved()) {
        summary->outcome = "saved";
        std::remove(result.packagePath.c_str());
    } else if (result.phase) {
        summary->phase = RunPhaseWord(*result.phase);
        if (*result.phase == RunPhase::kEeprom) summary->block = view.block;
    }
    summary->messages = host.messages;
    if (run.m_unitNumber != 0) summary->unit = run.m_unitNumber;
    // The clock was read once the run went past its phase.
    if (result.Saved() || (view.last && *view.last > RunPhase::kClock)) {
        summary->clock = ReplayedClock(device, settings, printer);
    }
    return true;
}

int RunReplayChild(const std::string& path, std::FILE* out, std::FILE* err) {
    // The parent's timer is the bound; these stop a child that would take the machine with it
    // before the timer fires. AddressSanitizer reserves far more address space than it uses,
    // so its builds go without the memory bound.
    const struct {
        int resource;
        rlim_t limit;
    } limits[] = {
#if !defined(__SANITIZE_ADDRESS__)
        {RLIMIT_AS, static_cast<rlim_t>(kReplayMemoryBytes)},
#endif
        {RLIMIT_CPU, static_cast<rlim_t>(kReplaySeconds)},
        {RLIMIT_FSIZE, kReplayFileBytes},
        {RLIMIT_CORE, 0},
    };
    for (const auto& l : limits) {
        const struct rlimit value = {l.limit, l.limit};
        if (setrlimit(l.resource, &value) != 0) {
            std::fprintf(err, "cannot limit the replay: %s\n", std::strerror(errno));
            return 1;
        }
    }
    RecordingSummary summary;
    std::string error;
    if (!ReplayRecordingHere(path, &summary, &error)) {
        std::fprintf(err, "%s\n", error.c_str());
        return 1;
    }
    std::fprintf(out, "%s\n", summary.ToJson().c_str());
    return std::fflush(out) == 0 ? 0 : 1;
}

bool ReplayRecording(const std::string& program, const std::string& path, RecordingSummary* summary,
                     std::string* error, int seconds) {
    const char* base = std::getenv("TMPDIR");
    std::string folder = std::string(base != nullptr && *base != '\0' ? base : "/tmp") +
                         "/trawler-desk-replay-XXXXXX";
    if (mkdtemp(&folder[0]) == nullptr) {
        *error = "cannot make a folder for the replay: " + std::string(std::strerror(errno));
        return false;
    }
    // The loader tells a one-file recording by its name, which a received file lacks.
    std::string named = folder + "/received.ztr";
    // A link's relative target counts from the link's folder: the data folder may be relative.
    char* absolute = realpath(path.c_str(), nullptr);
    const int linked = absolute != nullptr ? symlink(absolute, named.c_str()) : -1;
    std::free(absolute);
    if (linked != 0) {
        *error = "cannot name the recording for its replay: " + std::string(std::strerror(errno));
        rmdir(folder.c_str());
        return false;
    }
    // Everything the child needs is made before fork: between fork and exec a child of a
    // threaded server may only make system calls.
    const std::string command = "replay-recording";
    std::vector<char*> argv = {const_cast<char*>(program.c_str()),
                               const_cast<char*>(command.c_str()), &named[0], nullptr};
    std::vector<std::string> variables = {"TMPDIR=" + folder};
    for (char** e = environ; *e != nullptr; ++e) {
        if (std::strncmp(*e, "TMPDIR=", 7) != 0) variables.push_back(*e);
    }
    std::vector<char*> envp;
    envp.reserve(variables.size() + 1);
    for (std::string& v : variables) envp.push_back(&v[0]);
    envp.push_back(nullptr);
    const long maxFd = std::min(sysconf(_SC_OPEN_MAX), 65536L);
    int pipeFds[2];
    if (pipe2(pipeFds, O_CLOEXEC) != 0) {
        *error = "cannot start the replay: " + std::string(std::strerror(errno));
        nftw(folder.c_str(), RemoveEntry, 16, FTW_DEPTH | FTW_PHYS);
        return false;
    }
    const pid_t child = fork();
    if (child == 0) {
        // A group of its own, so that the kill reaches whatever the child started too.
        setpgid(0, 0);
        dup2(pipeFds[1], 1);
        dup2(pipeFds[1], 2);
        // The server's sockets and files stay with the server.
        for (long fd = 3; fd < maxFd; ++fd) close(static_cast<int>(fd));
        execve(argv[0], argv.data(), envp.data());
        _exit(127);
    }
    // Also here: the kill may come before the child has run at all.
    if (child > 0) setpgid(child, child);
    close(pipeFds[1]);
    std::string output;
    std::string why;
    if (child < 0) {
        why = "cannot start the replay: " + std::string(std::strerror(errno));
    } else {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
        for (;;) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            struct pollfd p = {pipeFds[0], POLLIN, 0};
            const int ready = left.count() > 0 ? poll(&p, 1, static_cast<int>(left.count())) : 0;
            if (ready < 0 && errno == EINTR) continue;
            if (ready <= 0) {
                why = "its replay did not end within " + std::to_string(seconds) + " s";
                break;
            }
            char block[1 << 14];
            const ssize_t n = read(pipeFds[0], block, sizeof block);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) break;
            output.append(block, static_cast<size_t>(n));
            if (output.size() > kMaxChildOutput) {
                why = "its replay showed more than " + std::to_string(kMaxChildOutput) +
                      " bytes of messages";
                break;
            }
        }
        // Only a stop sets a reason here.
        if (!why.empty()) kill(-child, SIGKILL);
    }
    close(pipeFds[0]);
    int status = 0;
    if (child > 0) {
        while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
        }
    }
    nftw(folder.c_str(), RemoveEntry, 16, FTW_DEPTH | FTW_PHYS);
    if (child > 0 && why.empty()) {
        while (!output.empty() && output.back() == '\n') output.pop_back();
        if (WIFEXITED(status) && WEXITSTATUS(status) == 0 &&
            RecordingSummary::FromJson(output, summary)) {
            return true;
        }
        if (WIFSIGNALED(status)) {
            why = "its replay was stopped by signal " + std::to_string(WTERMSIG(status)) +
                  " (over the bounds of " + std::to_string(kReplayMemoryBytes >> 20) + " MB and " +
                  std::to_string(seconds) + " s)";
        } else {
            why = output.empty() ? "its replay failed" : output;
        }
    }
    *error = why;
    return false;
}

}  // namespace trawler::desk
