// One request to S3-compatible object storage, signed with Signature Version 4 by libcurl
// (CURLOPT_AWS_SIGV4). The signing key never leaves this object: not in URLs, logs or errors.
#pragma once

#include <cstdint>
#include <sys/types.h>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

namespace trawler::desk {

struct S3Credentials {
    std::string accessKey;
    std::string secretKey;
    std::string sessionToken;  // temporary credentials only
};

// Connections to the service kept open from one request to the next, shared by the threads
// of one store, so that a package's parts do not each pay for a new connection (and TLS).
class S3Connections {
  public:
    S3Connections();
    ~S3Connections();
    S3Connections(const S3Connections&) = delete;
    S3Connections& operator=(const S3Connections&) = delete;

  private:
    friend class S3Request;
    struct Locks;
    void* m_share = nullptr;
    std::unique_ptr<Locks> m_locks;
};

class S3Request {
  public:
    // url: the endpoint, bucket and key with a query already in canonical order (sorted
    // names, every value percent-encoded), which libcurl 7.88 signs as it is given.
    S3Request(const std::string& url, const std::string& region, const S3Credentials& credentials,
              const std::string& service = "s3", S3Connections* connections = nullptr);
    ~S3Request();
    S3Request(const S3Request&) = delete;
    S3Request& operator=(const S3Request&) = delete;

    // Another header, signed with the rest ("Name: value").
    void Header(const std::string& line);
    // The body's SHA-256 as hex: sent as x-amz-content-sha256, which the signature covers and
    // the server checks the body against. Without a body, that of no bytes is sent.
    void PayloadHash(const std::string& hex) { m_payloadHash = hex; }
    void Body(const uint8_t* data, size_t size);
    // The body read from the file's current position, size bytes.
    void BodyFromFile(std::FILE* file, uint64_t size);
    // A successful answer's body goes to the file instead of Text().
    void AnswerTo(std::FILE* file) { m_answerFile = file; }

    // Sends the request; false with *error when no answer came. Any answer is true: see Status.
    // GET, HEAD, PUT and DELETE are sent up to three times while the server is busy (500, 503)
    // or the connection fails.
    bool Perform(const std::string& method, std::string* error);
    long Status() const { return m_status; }
    const std::string& Text() const { return m_text; }
    // A header of the answer, or "" (the first of that name, the name in any case).
    std::string AnswerHeader(const std::string& name) const;
    // "403 SignatureDoesNotMatch: The request signature ..." from an error answer's XML.
    std::string Problem() const;

  private:
    static size_t OnWrite(char* data, size_t size, size_t count, void* self);
    static size_t OnRead(char* data, size_t size, size_t count, void* self);
    static size_t OnHeader(char* data, size_t size, size_t count, void* self);
    // The handle's options for one request; libcurl writes its error text into problem.
    void Configure(const std::string& method, char* problem);
    // Back to before the request was sent, to send it again; false when a file cannot be.
    bool ReadyToRepeat();

    void* m_curl = nullptr;
    std::string m_url;
    std::string m_service;
    std::vector<std::string> m_headers;
    std::string m_payloadHash;
    const uint8_t* m_body = nullptr;
    std::FILE* m_bodyFile = nullptr;
    off_t m_bodyStart = 0;
    uint64_t m_bodySize = 0;
    uint64_t m_bodySent = 0;
    bool m_hasBody = false;
    std::FILE* m_answerFile = nullptr;
    bool m_answerFailed = false;
    long m_status = 0;
    std::string m_text;
    std::vector<std::string> m_answerHeaders;
};

// The text between <tag> and </tag> from start on, or "" (the answers are small, flat XML).
std::string XmlValue(const std::string& xml, const std::string& tag, size_t* start = nullptr);

}  // namespace trawler::desk
