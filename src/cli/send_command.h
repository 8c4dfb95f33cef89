// trawler-cli send: packages to the support desk over its HTTP API.
#pragma once

#include <chrono>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

namespace trawler {

// Exit codes.
constexpr int kSendOk = 0;       // every package is at the desk (added or already there)
constexpr int kSendRefused = 1;  // the desk refused a package (4xx)
constexpr int kSendFailed = 2;   // wrong arguments, a file not read, or the desk not reached

// How hard a send tries. A try that gets no answer or a 5xx is repeated after a pause that
// doubles each time; a 4xx never is, since the same request would be refused again.
struct SendPolicy {
    int tries = 4;
    std::chrono::milliseconds firstPause{1000};
    int connectTimeoutSeconds = 10;
    int transferTimeoutSeconds = 60;
    // Waits between tries; tests count the pauses instead of sleeping through them.
    std::function<void(std::chrono::milliseconds)> pause;
};

// trawler-cli send FILE.zlg... --desk URL [--token TOKEN] [--ticket T] [--technician NAME];
// args are the words after "send". The token, when not given, is TRAWLER_DESK_TOKEN's.
int RunSend(const std::vector<std::string>& args, std::FILE* out, std::FILE* err);
int RunSendWith(const std::vector<std::string>& args, std::FILE* out, std::FILE* err,
                const SendPolicy& policy);

}  // namespace trawler
