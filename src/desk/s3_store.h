// The store on S3-compatible object storage: one object per package, named like the folder
// store's file (ab/cd/abcd...) under an optional prefix, so that several desks can share a
// bucket. Bytes arrive in the local temporary folder first, since intake reads the package
// before it commits; the commit then uploads the file, in parts above the part size.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "desk/s3_request.h"
#include "desk/store.h"

namespace trawler::desk {

constexpr uint64_t kDefaultPartSize = uint64_t{8} << 20;

struct S3StoreOptions {
    std::string bucket;
    std::string prefix;    // "" or a folder-like name without slashes at either end
    std::string endpoint;  // http://host:port or https://host, without a trailing slash
    std::string region;
    S3Credentials credentials;
    // Objects larger than this go up in parts of this size (S3 wants at least 5 MiB).
    uint64_t partSize = kDefaultPartSize;
};

// s3://BUCKET[/PREFIX]?endpoint=URL&region=R (the values percent-encoded where needed).
bool ParseS3Location(const std::string& location, S3StoreOptions* options, std::string* error);
// AWS_ACCESS_KEY_ID, AWS_SECRET_ACCESS_KEY and AWS_SESSION_TOKEN (optional): credentials are
// taken from the environment only, never from the command line, where others can read them.
bool S3CredentialsFromEnvironment(S3StoreOptions* options, std::string* error);

class S3Store : public Store {
  public:
    S3Store(const std::string& dataFolder, S3StoreOptions options)
        : Store(dataFolder), m_options(std::move(options)) {}

    bool Prepare(std::string* error) override;
    bool Commit(TempFile* file, const std::string& sha256, std::string* error) override;
    bool Fetch(const std::string& sha256, StoredCopy* copy, std::string* error) const override;
    bool Remove(const std::string& sha256, std::string* error) override;
    bool List(std::vector<std::string>* sha256s, std::string* error) const override;

    // The object's name in the bucket.
    std::string KeyOf(const std::string& sha256) const;

  private:
    std::string Url(const std::string& key, const std::string& query = "") const;
    bool PutWhole(std::FILE* file, uint64_t size, const std::string& sha256, std::string* error);
    bool PutInParts(std::FILE* file, uint64_t size, const std::string& sha256, std::string* error);
    // Ends a multipart upload with the list of its parts (XML).
    bool CompleteParts(const std::string& key, const std::string& idQuery, const std::string& parts,
                       std::string* error);

    S3StoreOptions m_options;
    std::unique_ptr<S3Connections> m_connections = std::make_unique<S3Connections>();
};

}  // namespace trawler::desk
