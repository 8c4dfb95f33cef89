// HttpPutFile over cpp-httplib's client; TLS through the OpenSSL build of the library.
#include <httplib.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <vector>

#include "platform/http_client.h"

namespace trawler {

namespace {

constexpr size_t kBlock = size_t{64} * 1024;

// What the library's error means for a technician, and whether trying again may help.
HttpAnswer Failure(httplib::Error error) {
    HttpAnswer a;
    a.outcome = HttpOutcome::kNoAnswer;
    switch (error) {
        case httplib::Error::Connection:
            a.error = "cannot connect to the desk";
            break;
        case httplib::Error::ConnectionTimeout:
            a.error = "the desk did not accept the connection in time";
            break;
        case httplib::Error::Read:
            a.error = "no answer from the desk (the connection broke or timed out)";
            break;
        case httplib::Error::Write:
            a.error = "the connection broke or timed out while sending";
            break;
        case httplib::Error::SSLConnection:
            a.error = "the TLS connection to the desk failed";
            break;
        case httplib::Error::SSLServerVerification:
            a.outcome = HttpOutcome::kCannotEverWork;
            a.error = "the desk's TLS certificate could not be verified";
            break;
        case httplib::Error::SSLLoadingCerts:
            a.outcome = HttpOutcome::kCannotEverWork;
            a.error = "the system's TLS certificates could not be loaded";
            break;
        default:
            a.error = "the request failed (" + httplib::to_string(error) + ")";
            break;
    }
    return a;
}

}  // namespace

HttpAnswer HttpPutFile(const HttpPutRequest& request) {
    // A desk that closes the connection while the body is still being sent must show as a
    // failed write, not end the program.
    std::signal(SIGPIPE, SIG_IGN);
    // The library takes the scheme, host and port apart from the path.
    const size_t hostStart = request.url.find("://");
    const size_t pathStart =
        hostStart == std::string::npos ? std::string::npos : request.url.find('/', hostStart + 3);
    HttpAnswer answer;
    if (pathStart == std::string::npos) {
        answer.outcome = HttpOutcome::kCannotEverWork;
        answer.error = "not a URL with a path: " + request.url;
        return answer;
    }
    httplib::Client client(request.url.substr(0, pathStart));
    if (!client.is_valid()) {
        answer.outcome = HttpOutcome::kCannotEverWork;
        answer.error = "cannot use the address " + request.url.substr(0, pathStart);
        return answer;
    }
    client.set_connection_timeout(request.connectTimeoutSeconds, 0);
    client.set_read_timeout(request.transferTimeoutSeconds, 0);
    client.set_write_timeout(request.transferTimeoutSeconds, 0);
    client.set_keep_alive(false);

    httplib::Headers headers;
    for (const auto& h : request.headers) headers.emplace(h.first, h.second);

    bool bodyUnreadable = false;
    bool writeFailed = false;
    std::string readError;
    std::vector<char> block(kBlock);
    auto provider = [&](size_t offset, size_t length, httplib::DataSink& sink) {
        const size_t want = std::min(length, block.size());
        const size_t got = std::fread(block.data(), 1, want, request.body);
        if (got != want) {
            bodyUnreadable = true;
            readError = std::ferror(request.body) ? std::strerror(errno)
                                                  : "the file became shorter while it was sent";
            return false;
        }
        writeFailed = !sink.write(block.data(), got);
        return !writeFailed;
    };
    httplib::Result result =
        client.Put(request.url.substr(pathStart), headers, static_cast<size_t>(request.bodySize),
                   provider, "application/octet-stream");
    if (bodyUnreadable) {
        answer.outcome = HttpOutcome::kBodyUnreadable;
        answer.error = readError;
        return answer;
    }
    if (!result) return Failure(writeFailed ? httplib::Error::Write : result.error());
    answer.outcome = HttpOutcome::kAnswered;
    answer.status = result->status;
    answer.body = result->body.substr(0, kHttpAnswerLimit);
    return answer;
}

}  // namespace trawler
