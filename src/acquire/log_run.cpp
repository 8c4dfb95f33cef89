// The acquisition run behind the log details page's Next button.
#include "acquire/log_run.h"

#include <cstdio>

#include "acquire/run_messages.h"
#include "output/package.h"
#include "platform/messages.h"
#include "platform/system.h"

namespace trawler {

namespace {
constexpr int kProgressLast = 9;
constexpr int kDemoPauses = 10;
constexpr uint32_t kDemoPauseMillis = 10;
}  // namespace

LogRun::LogRun(Session& session)
    : m_container(session.GetHost()), m_separator(PathSeparator()), m_session(session) {}

// Whatever throws once a run has its container (a spooler, a disk, a window) must not leave a run
// behind it: the container is removed and the windows end as after a failed run before the
// exception goes on to the window's barrier, which reports it once.
class LogRun::Unwind {
  public:
    Unwind(LogRun& run, ReadingView& view, const std::string& path)
        : m_run(run), m_view(view), m_path(path) {}
    Unwind(const Unwind&) = delete;
    Unwind& operator=(const Unwind&) = delete;
    ~Unwind() {
        if (!m_armed) return;
        // Each step alone: one that fails must not keep the others from running.
        try {
            m_view.CloseProgressDialog();
        } catch (...) {
        }
        m_run.m_bReading = false;
        m_run.m_view = &m_run.m_noView;
        try {
            m_run.m_session.m_link.Close();
        } catch (...) {
        }
        try {
            m_run.m_container.Close();
        } catch (...) {
        }
        std::remove(m_path.c_str());
        try {
            m_view.EndReading();
        } catch (...) {
        }
        try {
            m_view.EnableBrowse();
        } catch (...) {
        }
    }
    void Disarm() { m_armed = false; }

  private:
    LogRun& m_run;
    ReadingView& m_view;
    const std::string& m_path;
    bool m_armed = true;
};

RunResult LogRun::Run(ReadingView& view) {
    Host& host = m_session.GetHost();
    RunResult result;
    result.outcome = RunResult::kRefused;
    if (m_strFolder.empty()) {
        view.EnableBrowse();
        return result;
    }
    m_strPackagePath = MakePackagePath(m_strFolder, host.LocalNow(), m_separator);
    // Two runs in one minute share the first name; the earlier package is never overwritten.
    if (PackageNameTaken(m_strPackagePath)) {
        ShowMessage(host, run_text::kPackageExists, m_strPackagePath.c_str());
        view.EnableBrowse();
        return result;
    }
    const std::string containerPath = m_strPackagePath + ".tmp";
    if (!m_container.Create(containerPath)) {
        ShowMessage(host, "%s", run_text::kCreateLogFile);
        view.EnableBrowse();
        return result;
    }
    Unwind unwind(*this, view, containerPath);
    m_view = &view;
    view.BeginReading();
    m_bReading = true;
    view.ShowProgressDialog();
    host.ProgressSetRange(0, kProgressLast);
    host.ProgressSetPos(0);
    m_session.PumpMessages();
    m_phase.reset();
    bool captured = Capture();
    view.CloseProgressDialog();
    m_bReading = false;
    const bool saved = Package(captured, containerPath);
    m_view = &m_noView;
    view.EndReading();
    view.EnableBrowse();
    unwind.Disarm();
    result.outcome = saved ? RunResult::kSaved : RunResult::kFailed;
    if (saved) {
        result.packagePath = m_strPackagePath;
    } else {
        result.phase = m_phase;
    }
    return result;
}

void LogRun::BeginPhase(RunPhase phase, uint32_t blockId) {
    m_phase = phase;
    m_view->PhaseBegins(phase, blockId);
}

bool LogRun::Capture() {
    Host& host = m_session.GetHost();
    if (!WriteCommentToLog(m_container, host, m_strCustomer, m_strComment)) {
        ShowMessage(host, "%s", run_text::kWriteCommentToLog);
        return false;
    }
    if (m_session.IsDemoMode()) {
        for (int i = 0; i < kDemoPauses; ++i) {
            host.Sleep(kDemoPauseMillis);
            m_session.PumpMessages();
        }
        return true;
    }
    BeginPhase(RunPhase::kOpen, 0);
    if (!m_session.OpenAndCheck()) return false;
    m_session.m_link.Drain();
    m_session.CloseLink();
    if (!CaptureVersionAndEeprom()) return false;
    m_session.PumpMessages();
    return CaptureLog();
}

bool LogRun::Package(bool captured, const std::string& containerPath) {
    Host& host = m_session.GetHost();
    // A container without its terminator, whose last bytes never reached the disk, or with any
    // other failed write on the way is damaged: it must not become a package.
    if (captured) BeginPhase(RunPhase::kSave, 0);
    bool ended = m_container.WriteEnd();
    bool closed = m_container.Close();
    if (captured && !(ended && closed && !m_container.Damaged())) {
        ShowMessage(host, "%s", run_text::kCreateLogFile);
        captured = false;
    }
    if (!captured) {
        std::remove(containerPath.c_str());
        return false;
    }
    if (MakeZlg(host, containerPath, m_strPackagePath) < 0) {
        ShowMessage(host, "%s", run_text::kMakeZlgFile);
        return false;
    }
    AddUnitNumberToName(m_strFolder, &m_strPackagePath, m_unitNumber, m_separator);
    m_session.m_strSavedPath = m_strPackagePath;
    return true;
}

const char* RunPhaseWord(RunPhase phase) {
    switch (phase) {
        case RunPhase::kOpen:
            return "open";
        case RunPhase::kClock:
            return "clock";
        case RunPhase::kVersion:
            return "version";
        case RunPhase::kEeprom:
            return "eeprom";
        case RunPhase::kLogInfo:
            return "log-info";
        case RunPhase::kLog:
            return "log";
        case RunPhase::kSave:
            return "save";
    }
    return "unknown";
}

}  // namespace trawler
