// SHA-256 through libcrypto's EVP interface.
#include <openssl/evp.h>

#include "platform/sha256.h"

namespace trawler {

struct Sha256::Context {
    Context() : ctx(EVP_MD_CTX_new()) {
        if (ctx == nullptr) Failed("EVP_MD_CTX_new", 0);
        Start();
    }
    ~Context() { EVP_MD_CTX_free(ctx); }
    Context(const Context&) = delete;
    Context& operator=(const Context&) = delete;

    void Start() {
        // Fetched once: an implicit fetch on every start would cost more than hashing a small
        // package.
        static EVP_MD* const kSha256 = EVP_MD_fetch(nullptr, "SHA256", nullptr);
        if (kSha256 == nullptr) Failed("EVP_MD_fetch", 0);
        if (EVP_DigestInit_ex(ctx, kSha256, nullptr) != 1) Failed("EVP_DigestInit_ex", 0);
    }

    EVP_MD_CTX* ctx;
};

Sha256::Sha256() : m_context(std::make_unique<Context>()) {}
Sha256::~Sha256() = default;
Sha256::Sha256(Sha256&&) noexcept = default;
Sha256& Sha256::operator=(Sha256&&) noexcept = default;

void Sha256::Update(const uint8_t* data, size_t size) {
    if (size > 0 && EVP_DigestUpdate(m_context->ctx, data, size) != 1) {
        Failed("EVP_DigestUpdate", 0);
    }
}

std::array<uint8_t, 32> Sha256::Finish() {
    std::array<uint8_t, 32> digest;
    unsigned int length = 0;
    if (EVP_DigestFinal_ex(m_context->ctx, digest.data(), &length) != 1 ||
        length != digest.size()) {
        Failed("EVP_DigestFinal_ex", length);
    }
    m_context->Start();
    return digest;
}

}  // namespace trawler
