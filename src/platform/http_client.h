// HttpPutFile: the one network call trawler-cli send makes, a PUT of a file's bytes.
// cpp-httplib behind it on POSIX systems, WinHTTP on Windows.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

namespace trawler {

struct HttpPutRequest {
    // http:// or https://, host, optional port, path and query, already percent-encoded; ASCII.
    std::string url;
    // Sent as they are; the caller keeps them free of line breaks.
    std::vector<std::pair<std::string, std::string>> headers;
    // The body is read from the stream's current position, bodySize bytes, in blocks: a package
    // is never held whole in memory.
    std::FILE* body = nullptr;
    uint64_t bodySize = 0;
    int connectTimeoutSeconds = 10;
    // Longest wait for the next block to be taken or the answer to come.
    int transferTimeoutSeconds = 60;
};

enum class HttpOutcome {
    kAnswered,        // the server answered: status and body hold what it said
    kNoAnswer,        // no connection, a broken one or a time-out: the same request may work later
    kCannotEverWork,  // a refused certificate, an address the client cannot use: no use retrying
    kBodyUnreadable,  // the file could not be read to its end
};

struct HttpAnswer {
    HttpOutcome outcome = HttpOutcome::kNoAnswer;
    int status = 0;
    std::string body;   // the answer's body, cut at kHttpAnswerLimit bytes
    std::string error;  // what went wrong, when nothing was answered
};

constexpr size_t kHttpAnswerLimit = 1u << 20;

HttpAnswer HttpPutFile(const HttpPutRequest& request);

}  // namespace trawler
