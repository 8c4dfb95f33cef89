// The object store's requests: PUT for a small package, a multipart upload for a large one
// (aborted on the server when any step fails, so no parts linger unseen), GET into a local
// copy, DELETE, and the list of a prefix page by page.
#include "desk/s3_store.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "platform/owned_file.h"
#include "platform/sha256.h"

namespace trawler::desk {

namespace {

// Percent-encoding as the signature's canonical query wants it: all but A-Z a-z 0-9 - _ . ~.
std::string Encoded(const std::string& text) {
    static const char kHex[] = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : text) {
        if (std::isalnum(c) || c == '-' || c == '_' || c == '.' || c == '~') {
            out.push_back(static_cast<char>(c));
        } else {
            out += {'%', kHex[c >> 4], kHex[c & 15]};
        }
    }
    return out;
}

std::string Decoded(const std::string& text) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 2 < text.size() && std::isxdigit(text[i + 1]) &&
            std::isxdigit(text[i + 2])) {
            out.push_back(
                static_cast<char>(std::strtol(text.substr(i + 1, 2).c_str(), nullptr, 16)));
            i += 2;
        } else {
            out.push_back(text[i]);
        }
    }
    return out;
}

bool ValidBucket(const std::string& name) {
    if (name.size() < 3 || name.size() > 63) return false;
    for (char c : name) {
        if (!((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '.')) {
            return false;
        }
    }
    return true;
}

bool ValidPrefix(const std::string& prefix) {
    if (prefix.front() == '/' || prefix.back() == '/') return false;
    for (char c : prefix) {
        if (!(std::isalnum(static_cast<unsigned char>(c)) || c == '-' || c == '_' || c == '.' ||
              c == '/')) {
            return false;
        }
    }
    return true;
}

std::string HashOf(const uint8_t* data, size_t size) {
    Sha256 hash;
    hash.Update(data, size);
    return hash.FinishHex();
}

}  // namespace

bool ParseS3Location(const std::string& location, S3StoreOptions* o, std::string* error) {
    const std::string scheme = "s3://";
    const std::string shape = "--store must be s3://BUCKET[/PREFIX]?endpoint=URL&region=R";
    if (location.compare(0, scheme.size(), scheme) != 0) {
        *error = shape + ", not \"" + location + "\"";
        return false;
    }
    const size_t query = location.find('?');
    const std::string path = location.substr(
        scheme.size(), query == std::string::npos ? std::string::npos : query - scheme.size());
    const size_t slash = path.find('/');
    o->bucket = path.substr(0, slash);
    o->prefix = slash == std::string::npos ? "" : path.substr(slash + 1);
    if (!ValidBucket(o->bucket)) {
        *error = "--store: \"" + o->bucket +
                 "\" is not a bucket name (3 to 63 lower-case letters, digits, - and .)";
        return false;
    }
    if (slash != std::string::npos && (o->prefix.empty() || !ValidPrefix(o->prefix))) {
        *error = "--store: the prefix \"" + o->prefix +
                 "\" may hold letters, digits, - _ . and inner slashes only";
        return false;
    }
    std::string rest = query == std::string::npos ? "" : location.substr(query + 1);
    while (!rest.empty()) {
        const size_t amp = rest.find('&');
        const std::string pair = rest.substr(0, amp);
        rest = amp == std::string::npos ? "" : rest.substr(amp + 1);
        const size_t eq = pair.find('=');
        const std::string name = pair.substr(0, eq);
        const std::string value = eq == std::string::npos ? "" : Decoded(pair.substr(eq + 1));
        if (name == "endpoint") {
            o->endpoint = value;
        } else if (name == "region") {
            o->region = value;
        } else {
            *error = "--store: unknown setting \"" + name + "\" (endpoint and region are known)";
            return false;
        }
    }
    while (!o->endpoint.empty() && o->endpoint.back() == '/') o->endpoint.pop_back();
    if (o->endpoint.compare(0, 7, "http://") != 0 && o->endpoint.compare(0, 8, "https://") != 0) {
        *error = shape + ": endpoint must be an http:// or https:// URL";
        return false;
    }
    if (o->region.empty()) {
        *error = shape + ": region is needed, as the signature names it";
        return false;
    }
    return true;
}

bool S3CredentialsFromEnvironment(S3StoreOptions* o, std::string* error) {
    const char* key = std::getenv("AWS_ACCESS_KEY_ID");
    const char* secret = std::getenv("AWS_SECRET_ACCESS_KEY");
    const char* token = std::getenv("AWS_SESSION_TOKEN");
    if (key == nullptr || *key == '\0' || secret == nullptr || *secret == '\0') {
        *error =
            "the S3 store needs AWS_ACCESS_KEY_ID and AWS_SECRET_ACCESS_KEY in the environment";
        return false;
    }
    o->credentials = S3Credentials{key, secret, token != nullptr ? token : ""};
    return true;
}

std::string S3Store::KeyOf(const std::string& sha256) const {
    // The folder store's relative name without its "store/".
    const std::string name = RelativePathOf(sha256).substr(6);
    return m_options.prefix.empty() ? name : m_options.prefix + "/" + name;
}

std::string S3Store::Url(const std::string& key, const std::string& query) const {
    std::string url = m_options.endpoint + "/" + m_options.bucket;
    if (!key.empty()) url += "/" + key;
    if (!query.empty()) url += "?" + query;
    return url;
}

bool S3Store::Prepare(std::string* error) {
    if (!PrepareFolders(error)) return false;
    S3Request head(Url(""), m_options.region, m_options.credentials, "s3", m_connections.get());
    std::string problem;
    if (!head.Perform("HEAD", &problem) || head.Status() != 200) {
        *error = "cannot reach the bucket " + m_options.bucket + " at " + m_options.endpoint +
                 ": " + (problem.empty() ? head.Problem() : problem);
        return false;
    }
    return true;
}

bool S3Store::Commit(TempFile* file, const std::string& sha256, std::string* error) {
    OwnedFile in(std::fopen(file->Path().c_str(), "rb"));
    struct stat st {};
    if (!in || fstat(fileno(in.Get()), &st) != 0) {
        *error = "cannot read " + file->Path() + ": " + std::strerror(errno);
        return false;
    }
    const uint64_t size = static_cast<uint64_t>(st.st_size);
    // The temporary file stays where it is and goes with its owner: the object is the copy.
    return size > m_options.partSize ? PutInParts(in.Get(), size, sha256, error)
                                     : PutWhole(in.Get(), size, sha256, error);
}

bool S3Store::PutWhole(std::FILE* file, uint64_t size, const std::string& sha256,
                       std::string* error) {
    const std::string key = KeyOf(sha256);
    S3Request put(Url(key), m_options.region, m_options.credentials, "s3", m_connections.get());
    put.Header("Content-Type: application/octet-stream");
    // The object's name is its content's digest, which is also the payload hash S3 checks.
    put.PayloadHash(sha256);
    put.BodyFromFile(file, size);
    std::string problem;
    if (!put.Perform("PUT", &problem) || put.Status() != 200) {
        *error = "cannot store the package as " + key + ": " +
                 (problem.empty() ? put.Problem() : problem);
        return false;
    }
    return true;
}

// The answer to completing can be 200 and still an error, sent once the work failed.
bool S3Store::CompleteParts(const std::string& key, const std::string& idQuery,
                            const std::string& parts, std::string* error) {
    S3Request complete(Url(key, idQuery), m_options.region, m_options.credentials, "s3",
                       m_connections.get());
    complete.Header("Content-Type: application/xml");
    complete.PayloadHash(HashOf(reinterpret_cast<const uint8_t*>(parts.data()), parts.size()));
    complete.Body(reinterpret_cast<const uint8_t*>(parts.data()), parts.size());
    std::string problem;
    if (!complete.Perform("POST", &problem) || complete.Status() != 200 ||
        complete.Text().find("<Error>") != std::string::npos) {
        *error = "cannot store the package as " + key +
                 " (completing the upload): " + (problem.empty() ? complete.Problem() : problem);
        return false;
    }
    return true;
}

bool S3Store::PutInParts(std::FILE* file, uint64_t size, const std::string& sha256,
                         std::string* error) {
    const std::string key = KeyOf(sha256);
    auto failed = [&](const std::string& step, const S3Request& r, const std::string& problem) {
        *error = "cannot store the package as " + key + " (" + step +
                 "): " + (problem.empty() ? r.Problem() : problem);
        return false;
    };
    std::string problem;
    S3Request start(Url(key, "uploads="), m_options.region, m_options.credentials, "s3",
                    m_connections.get());
    start.Header("Content-Type: application/octet-stream");
    if (!start.Perform("POST", &problem) || start.Status() != 200) {
        return failed("starting the upload", start, problem);
    }
    const std::string uploadId = XmlValue(start.Text(), "UploadId");
    if (uploadId.empty()) return failed("starting the upload", start, "no UploadId in the answer");
    const std::string idQuery = "uploadId=" + Encoded(uploadId);
    // Until the upload is complete, any way out of here aborts it, so that the server drops
    // the parts (which it would otherwise keep, and charge for, out of every listing's sight).
    bool completed = false;
    std::shared_ptr<void> abort(nullptr, [&](void*) {
        if (completed) return;
        S3Request cancel(Url(key, idQuery), m_options.region, m_options.credentials, "s3",
                         m_connections.get());
        std::string ignored;
        cancel.Perform("DELETE", &ignored);
    });

    std::string parts = "<CompleteMultipartUpload>";
    std::vector<uint8_t> buffer(static_cast<size_t>(m_options.partSize));
    int number = 1;
    for (uint64_t done = 0; done < size; ++number) {
        const size_t want = static_cast<size_t>(std::min<uint64_t>(buffer.size(), size - done));
        if (std::fread(buffer.data(), 1, want, file) != want) {
            *error = "cannot read the received package: " + std::string(std::strerror(errno));
            return false;
        }
        S3Request part(Url(key, "partNumber=" + std::to_string(number) + "&" + idQuery),
                       m_options.region, m_options.credentials, "s3", m_connections.get());
        part.PayloadHash(HashOf(buffer.data(), want));
        part.Body(buffer.data(), want);
        const std::string etag = part.Perform("PUT", &problem) && part.Status() == 200
                                     ? part.AnswerHeader("ETag")
                                     : std::string();
        if (etag.empty()) {
            return failed(
                "part " + std::to_string(number), part,
                problem.empty() && part.Status() == 200 ? "no ETag in the answer" : problem);
        }
        parts += "<Part><PartNumber>" + std::to_string(number) + "</PartNumber><ETag>" + etag +
                 "</ETag></Part>";
        done += want;
    }
    parts += "</CompleteMultipartUpload>";
    if (!CompleteParts(key, idQuery, parts, error)) return false;
    completed = true;
    return true;
}

bool S3Store::Fetch(const std::string& sha256, StoredCopy* copy, std::string* error) const {
    if (!CreateCopyFile(copy, error)) return false;
    const std::string& path = copy->Path();
    OwnedFile out(std::fopen(path.c_str(), "wb"));
    if (!out) {
        *error = "cannot write " + path + ": " + std::strerror(errno);
        return false;
    }
    const std::string key = KeyOf(sha256);
    S3Request get(Url(key), m_options.region, m_options.credentials, "s3", m_connections.get());
    get.AnswerTo(out.Get());
    std::string problem;
    const bool answered = get.Perform("GET", &problem);
    const bool flushed = out.Close();
    if (!answered || get.Status() != 200 || !flushed) {
        *error = "cannot read the stored object " + key + ": " +
                 (!problem.empty() ? problem
                  : !flushed       ? std::string(std::strerror(errno))
                                   : get.Problem());
        return false;
    }
    return true;
}

bool S3Store::Remove(const std::string& sha256, std::string* error) {
    const std::string key = KeyOf(sha256);
    S3Request remove(Url(key), m_options.region, m_options.credentials, "s3", m_connections.get());
    std::string problem;
    if (!remove.Perform("DELETE", &problem) ||
        (remove.Status() != 204 && remove.Status() != 200 && remove.Status() != 404)) {
        *error = "cannot remove the stored object " + key + ": " +
                 (problem.empty() ? remove.Problem() : problem);
        return false;
    }
    return true;
}

bool S3Store::List(std::vector<std::string>* sha256s, std::string* error) const {
    const std::string prefix = m_options.prefix.empty() ? "" : m_options.prefix + "/";
    std::string token;
    do {
        // The names in the order the signature's canonical query puts them.
        std::string query = token.empty() ? "" : "continuation-token=" + Encoded(token) + "&";
        query += "list-type=2";
        if (!prefix.empty()) query += "&prefix=" + Encoded(prefix);
        S3Request list(Url("", query), m_options.region, m_options.credentials, "s3",
                       m_connections.get());
        std::string problem;
        if (!list.Perform("GET", &problem) || list.Status() != 200) {
            *error = "cannot list the bucket " + m_options.bucket + ": " +
                     (problem.empty() ? list.Problem() : problem);
            return false;
        }
        size_t at = 0;
        for (std::string key; !(key = XmlValue(list.Text(), "Key", &at)).empty();) {
            const std::string name = key.substr(key.rfind('/') + 1);
            if (IsSha256Text(name) && KeyOf(name) == key) sha256s->push_back(name);
        }
        token = XmlValue(list.Text(), "IsTruncated") == "true"
                    ? XmlValue(list.Text(), "NextContinuationToken")
                    : std::string();
    } while (!token.empty());
    return true;
}

}  // namespace trawler::desk
