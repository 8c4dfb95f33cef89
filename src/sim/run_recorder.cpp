// RunRecorder: a recorder in front of the spooler for the length of one run.
#include "sim/run_recorder.h"

#include <cstdio>

#include "platform/file_ops.h"

namespace trawler {

std::string RunRecordingPath(const std::string& folder, const std::string& packagePath,
                             uint32_t unitNumber, const std::tm& localTime, char separator) {
    const std::string package = ".zlg";
    if (packagePath.size() > package.size() &&
        SpoolerNamesEqual(packagePath.substr(packagePath.size() - package.size()), package)) {
        return packagePath.substr(0, packagePath.size() - package.size()) +
               kRecordingArchiveExtension;
    }
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "%Y%m%d_%H%M", &localTime);
    return folder + separator + "Failed_No" + std::to_string(unitNumber) + "_" + stamp +
           kRecordingArchiveExtension;
}

std::string FreeRecordingPath(const std::string& path) {
    if (!PathExists(path)) return path;
    const std::string stem = path.substr(0, path.size() - (sizeof kRecordingArchiveExtension - 1));
    for (int n = 2; n < 100; ++n) {
        std::string next = stem + "-" + std::to_string(n) + kRecordingArchiveExtension;
        if (!PathExists(next)) return next;
    }
    return path;
}

void RunRecorder::BeginRun(const LinkSettings& settings) {
    // The name is known only at the end: the unit number and the outcome decide it.
    m_recorder = std::make_unique<RecordingSpooler>(m_inner, "run.ztr");
    m_recorder->SetLinkSettings(settings);
}

bool RunRecorder::EndRun(const std::string& outcome, const std::string& path, std::string* error) {
    if (!m_recorder) {
        *error = "no run was recorded";
        return false;
    }
    m_recorder->SetArchivePath(path);
    const bool ok = m_recorder->WriteDescription(outcome, error);
    m_recorder.reset();
    return ok;
}

}  // namespace trawler
