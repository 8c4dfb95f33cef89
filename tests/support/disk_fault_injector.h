// A failing disk for tests: interposers for the C runtime's file calls that, once armed for a
// folder, make it full after a byte budget, fail at close, or refuse to be written.
//
// Include from exactly one source file of a test executable: the definitions below replace
// the C library's fopen, fwrite, fputc, fflush, fclose (the container and package writers,
// linked statically into the executable, call these) and open, write, close (zlib's gzip
// writer calls these from its shared library, which the executable's own symbols override).
// Disarmed, every call goes straight to the C library. Linux (glibc) only.
#pragma once

#include <dlfcn.h>
#include <fcntl.h>
#include <stdarg.h>
#include <stdio.h>
#include <sys/types.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <limits>
#include <set>
#include <string>
#include <vector>

namespace trawler::testing::disk {

enum class Mode {
    kOff,
    kFull,         // writes beyond the budget fail with ENOSPC; a stream that hit it fails to close
    kFailAtClose,  // every write succeeds; closing a written file whose name ends in the suffix
                   // fails
    kReadOnly,     // opening for writing fails with EROFS
};

// One accepted write, for measuring where a run's files put their bytes.
struct WriteRecord {
    std::string path;
    uint64_t size = 0;
    uint64_t before = 0;  // bytes accepted under the folder before this write
    std::string head;     // its first four bytes
};

struct DiskState {
    Mode mode = Mode::kOff;
    std::string folder;  // canonical, with a trailing '/'
    uint64_t budget = 0;
    uint64_t accepted = 0;
    std::string closeSuffix;
    std::set<int> writtenFds;
    std::set<int> trippedFds;
    std::vector<WriteRecord> writes;
    uint64_t callsSeen = 0;  // every interposed call, armed or not: proves the seam is reached
    int failures = 0;        // calls this injector made fail
};

inline DiskState& State() {
    static DiskState state;
    return state;
}

inline void Disarm() {
    DiskState& s = State();
    s.mode = Mode::kOff;
    s.folder.clear();
    s.writtenFds.clear();
    s.trippedFds.clear();
}

inline void Arm(Mode mode, const std::string& folder, uint64_t budget = 0,
                const std::string& closeSuffix = std::string()) {
    DiskState& s = State();
    std::error_code ec;
    s.mode = mode;
    s.folder = std::filesystem::weakly_canonical(folder, ec).string() + "/";
    s.budget = budget;
    s.accepted = 0;
    s.closeSuffix = closeSuffix;
    s.writtenFds.clear();
    s.trippedFds.clear();
    s.writes.clear();
    s.failures = 0;
}

inline bool InFolder(const std::string& path) {
    const DiskState& s = State();
    return s.mode != Mode::kOff && path.compare(0, s.folder.size(), s.folder) == 0;
}

inline std::string FdPath(int fd) {
    if (fd < 0) return std::string();
    char link[64];
    std::snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
    char target[4096];
    ssize_t n = ::readlink(link, target, sizeof target - 1);
    if (n <= 0) return std::string();
    return std::string(target, static_cast<size_t>(n));
}

inline std::string Canonical(const char* path) {
    std::error_code ec;
    return std::filesystem::weakly_canonical(path, ec).string();
}

inline bool Opens(int flags) {
    return (flags & (O_WRONLY | O_RDWR | O_CREAT | O_TRUNC | O_APPEND)) != 0;
}

inline bool OpensMode(const char* mode) {
    return mode != nullptr && (std::strpbrk(mode, "wa+") != nullptr);
}

// How many of `want` bytes for fd fit; records the write and trips the fd when not all do.
inline uint64_t Admit(int fd, const std::string& path, uint64_t want, const void* data) {
    DiskState& s = State();
    uint64_t room = s.mode == Mode::kFull ? (s.budget > s.accepted ? s.budget - s.accepted : 0)
                                          : std::numeric_limits<uint64_t>::max();
    uint64_t take = want < room ? want : room;
    s.writtenFds.insert(fd);
    if (take > 0) {
        WriteRecord r;
        r.path = path;
        r.size = take;
        r.before = s.accepted;
        r.head.assign(static_cast<const char*>(data), static_cast<size_t>(take < 4 ? take : 4));
        s.writes.push_back(r);
    }
    s.accepted += take;
    if (take < want) {
        s.trippedFds.insert(fd);
        ++s.failures;
    }
    return take;
}

inline bool CloseFails(int fd, const std::string& path) {
    const DiskState& s = State();
    if (s.mode == Mode::kFull) return s.trippedFds.count(fd) != 0;
    if (s.mode != Mode::kFailAtClose || s.writtenFds.count(fd) == 0) return false;
    const std::string& suffix = s.closeSuffix;
    return path.size() >= suffix.size() &&
           path.compare(path.size() - suffix.size(), suffix.size(), suffix) == 0;
}

inline void Forget(int fd) {
    State().writtenFds.erase(fd);
    State().trippedFds.erase(fd);
}

template <typename F>
F Real(const char* name) {
    return reinterpret_cast<F>(::dlsym(RTLD_NEXT, name));
}

}  // namespace trawler::testing::disk

extern "C" {

FILE* fopen(const char* path, const char* mode) {
    namespace d = trawler::testing::disk;
    static auto real = d::Real<FILE* (*)(const char*, const char*)>("fopen");
    ++d::State().callsSeen;
    if (d::State().mode == d::Mode::kReadOnly && d::OpensMode(mode) &&
        d::InFolder(d::Canonical(path))) {
        ++d::State().failures;
        errno = EROFS;
        return nullptr;
    }
    return real(path, mode);
}

size_t fwrite(const void* data, size_t size, size_t count, FILE* stream) {
    namespace d = trawler::testing::disk;
    static auto real = d::Real<size_t (*)(const void*, size_t, size_t, FILE*)>("fwrite");
    ++d::State().callsSeen;
    if (d::State().mode == d::Mode::kOff || size == 0 || count == 0) {
        return real(data, size, count, stream);
    }
    int fd = ::fileno(stream);
    std::string path = d::FdPath(fd);
    if (!d::InFolder(path)) return real(data, size, count, stream);
    uint64_t want = uint64_t{size} * count;
    uint64_t take = d::Admit(fd, path, want, data);
    size_t items = static_cast<size_t>(take / size);
    size_t done = items > 0 ? real(data, size, items, stream) : 0;
    if (take < want) errno = ENOSPC;
    return done;
}

int fputc(int c, FILE* stream) {
    namespace d = trawler::testing::disk;
    static auto real = d::Real<int (*)(int, FILE*)>("fputc");
    ++d::State().callsSeen;
    if (d::State().mode == d::Mode::kOff) return real(c, stream);
    int fd = ::fileno(stream);
    std::string path = d::FdPath(fd);
    if (!d::InFolder(path)) return real(c, stream);
    unsigned char byte = static_cast<unsigned char>(c);
    if (d::Admit(fd, path, 1, &byte) == 0) {
        errno = ENOSPC;
        return EOF;
    }
    return real(c, stream);
}

int fflush(FILE* stream) {
    namespace d = trawler::testing::disk;
    static auto real = d::Real<int (*)(FILE*)>("fflush");
    ++d::State().callsSeen;
    int r = real(stream);
    if (stream != nullptr && d::State().mode == d::Mode::kFull &&
        d::State().trippedFds.count(::fileno(stream)) != 0) {
        errno = ENOSPC;
        return EOF;
    }
    return r;
}

int fclose(FILE* stream) {
    namespace d = trawler::testing::disk;
    static auto real = d::Real<int (*)(FILE*)>("fclose");
    ++d::State().callsSeen;
    if (d::State().mode == d::Mode::kOff) return real(stream);
    int fd = ::fileno(stream);
    std::string path = d::FdPath(fd);
    bool fail = d::InFolder(path) && d::CloseFails(fd, path);
    d::Forget(fd);
    int r = real(stream);
    if (fail) {
        ++d::State().failures;
        errno = ENOSPC;
        return EOF;
    }
    return r;
}

int open(const char* path, int flags, ...) {
    namespace d = trawler::testing::disk;
    static auto real = d::Real<int (*)(const char*, int, ...)>("open");
    ++d::State().callsSeen;
    mode_t mode = 0;
    if ((flags & O_CREAT) != 0) {
        va_list args;
        va_start(args, flags);
        mode = static_cast<mode_t>(va_arg(args, int));
        va_end(args);
    }
    if (d::State().mode == d::Mode::kReadOnly && d::Opens(flags) &&
        d::InFolder(d::Canonical(path))) {
        ++d::State().failures;
        errno = EROFS;
        return -1;
    }
    int fd = real(path, flags, mode);
    if (fd >= 0) d::Forget(fd);
    return fd;
}

ssize_t write(int fd, const void* data, size_t count) {
    namespace d = trawler::testing::disk;
    static auto real = d::Real<ssize_t (*)(int, const void*, size_t)>("write");
    ++d::State().callsSeen;
    if (d::State().mode == d::Mode::kOff || count == 0) return real(fd, data, count);
    std::string path = d::FdPath(fd);
    if (!d::InFolder(path)) return real(fd, data, count);
    uint64_t take = d::Admit(fd, path, count, data);
    if (take == 0) {
        errno = ENOSPC;
        return -1;
    }
    return real(fd, data, static_cast<size_t>(take));
}

int close(int fd) {
    namespace d = trawler::testing::disk;
    static auto real = d::Real<int (*)(int)>("close");
    ++d::State().callsSeen;
    if (d::State().mode == d::Mode::kOff) return real(fd);
    std::string path = d::FdPath(fd);
    bool fail = d::InFolder(path) && d::CloseFails(fd, path);
    d::Forget(fd);
    int r = real(fd);
    if (fail) {
        ++d::State().failures;
        errno = ENOSPC;
        return -1;
    }
    return r;
}

}  // extern "C"
