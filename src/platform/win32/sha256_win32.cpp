// SHA-256 through Windows' own CNG (bcrypt.dll, part of every Windows since Vista).
#include <windows.h>

#include <bcrypt.h>

#include <algorithm>

#include "platform/sha256.h"

namespace trawler {

struct Sha256::Context {
    Context() { Start(); }
    ~Context() { BCryptDestroyHash(hash); }
    Context(const Context&) = delete;
    Context& operator=(const Context&) = delete;

    // Opening the provider costs far more than hashing a small package, so it is opened once
    // and kept for the life of the process.
    static BCRYPT_ALG_HANDLE Algorithm() {
        static const BCRYPT_ALG_HANDLE algorithm = [] {
            BCRYPT_ALG_HANDLE opened = nullptr;
            NTSTATUS status =
                BCryptOpenAlgorithmProvider(&opened, BCRYPT_SHA256_ALGORITHM, nullptr, 0);
            if (!BCRYPT_SUCCESS(status)) Failed("BCryptOpenAlgorithmProvider", status);
            return opened;
        }();
        return algorithm;
    }

    // A finished hash object cannot take more data (reusable ones need Windows 8), so each
    // digest gets a new one; CNG allocates its memory (pbHashObject null, Windows 7 and later).
    void Start() {
        if (hash != nullptr) BCryptDestroyHash(hash);
        hash = nullptr;
        NTSTATUS status = BCryptCreateHash(Algorithm(), &hash, nullptr, 0, nullptr, 0, 0);
        if (!BCRYPT_SUCCESS(status)) Failed("BCryptCreateHash", status);
    }

    BCRYPT_HASH_HANDLE hash = nullptr;
};

Sha256::Sha256() : m_context(std::make_unique<Context>()) {}
Sha256::~Sha256() = default;
Sha256::Sha256(Sha256&&) noexcept = default;
Sha256& Sha256::operator=(Sha256&&) noexcept = default;

void Sha256::Update(const uint8_t* data, size_t size) {
    while (size > 0) {
        // BCryptHashData takes a ULONG count, 32 bits on Windows.
        const ULONG take = static_cast<ULONG>(std::min<size_t>(size, 0x40000000));
        NTSTATUS status = BCryptHashData(m_context->hash, const_cast<PUCHAR>(data), take, 0);
        if (!BCRYPT_SUCCESS(status)) Failed("BCryptHashData", status);
        data += take;
        size -= take;
    }
}

std::array<uint8_t, 32> Sha256::Finish() {
    std::array<uint8_t, 32> digest;
    NTSTATUS status = BCryptFinishHash(m_context->hash, digest.data(), digest.size(), 0);
    if (!BCRYPT_SUCCESS(status)) Failed("BCryptFinishHash", status);
    m_context->Start();
    return digest;
}

}  // namespace trawler
