// SHA-256 over a stream of bytes: the support desk quotes a package by it. The system's own
// implementation does the work (libcrypto on POSIX, CNG on Windows), which uses the processor's
// SHA instructions where it has them.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace trawler {

class Sha256 {
  public:
    Sha256();
    ~Sha256();
    Sha256(Sha256&&) noexcept;
    Sha256& operator=(Sha256&&) noexcept;

    void Update(const uint8_t* data, size_t size);
    // The digest of everything given; the object then starts over.
    std::array<uint8_t, 32> Finish();
    // Finish() as 64 lower-case hexadecimal digits.
    std::string FinishHex();

  private:
    // The system's hash object, one per platform (platform/posix, platform/win32).
    struct Context;
    std::unique_ptr<Context> m_context;

    // A failure of the system's hash, which only a broken system or exhausted memory can cause:
    // a digest must never be quietly wrong, so the program stops with the call's name and code.
    [[noreturn]] static void Failed(const char* call, long code);
};

}  // namespace trawler
