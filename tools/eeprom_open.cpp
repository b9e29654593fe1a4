// The preload's opens and truncation; what they give is told at the top of
// eeprom_xfer.cpp. Whether a target is a chip's file is decided as for
// descriptors (chip_of), on what an existing path resolves to, before
// anything is truncated; every other file goes straight to the C library.
// Opens with O_DIRECTORY are logged as "opendir PATH": a directory can be
// listed without opendir, by opening it and calling getdents64.
#include "eeprom_xfer.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace {

using namespace eeprom_xfer;

using openat_fn = int (*)(int, const char *, int, ...);
using fopen_fn = FILE *(*)(const char *, const char *);
using freopen_fn = FILE *(*)(const char *, const char *, FILE *);

// Whether `path`, taken from `dirfd` as openat takes it, resolves to an
// existing chip file. Looked at through an O_PATH descriptor, which opens
// nothing (a FIFO does not block) and is closed again before the caller's
// own open, so that gets the descriptor number it would have had.
bool chip_at(int dirfd, const char *path, bool follow, chip *c) {
    static openat_fn real_openat = next<openat_fn>("openat");
    const int saved = errno;
    const int fd = real_openat(dirfd, path, O_PATH | O_CLOEXEC | (follow ? 0 : O_NOFOLLOW));
    const bool found = fd >= 0 && chip_of(fd, c);
    if (fd >= 0)
        close(fd);
    errno = saved;
    return found;
}

// open and openat, plain and 64-bit, all end here; each goes on to the C
// library's openat or openat64, which is what open and open64 do in turn.
int open_at(bool large, int dirfd, const char *path, int flags, va_list ap) {
    static openat_fn real[2] = {next<openat_fn>("openat"), next<openat_fn>("openat64")};
    mode_t mode = 0;
    if ((flags & O_CREAT) != 0 || (flags & O_TMPFILE) == O_TMPFILE)
        mode = static_cast<mode_t>(va_arg(ap, unsigned));
    chip c;
    if ((flags & O_TRUNC) && chip_at(dirfd, path, !(flags & O_NOFOLLOW), &c))
        flags &= ~O_TRUNC;
    if (flags & O_DIRECTORY)
        log_line("opendir %s", path);
    return real[large](dirfd, path, flags, mode);
}

// The open flags of a stdio mode that truncates ("w", "wb", "w+e"); false
// for any other, and for "x", which fails on an existing file before it
// could truncate it.
bool truncating_mode(const char *mode, int *flags) {
    if (!mode || mode[0] != 'w')
        return false;
    const size_t len = std::strcspn(mode, ",");  // ",ccs=" names a character set
    if (std::memchr(mode, 'x', len))
        return false;
    *flags = (std::memchr(mode, '+', len) ? O_RDWR : O_WRONLY) | O_CREAT |
             (std::memchr(mode, 'e', len) ? O_CLOEXEC : 0);
    return true;
}

// `path` opened as stdio opens it for `flags`, less O_TRUNC.
int open_untruncated(bool large, const char *path, int flags) {
    return large ? open64(path, flags, 0666) : open(path, flags, 0666);
}

FILE *open_stream(fopen_fn real, bool large, const char *path, const char *mode) {
    int flags;
    chip c;
    if (!truncating_mode(mode, &flags) || !chip_at(AT_FDCWD, path, true, &c))
        return real(path, mode);
    const int fd = open_untruncated(large, path, flags);
    if (fd < 0)
        return nullptr;
    FILE *stream = fdopen(fd, mode);
    if (!stream) {
        const int err = errno;
        close(fd);
        errno = err;
    }
    return stream;
}

// freopen must hand back the same stream, on the same descriptor when it
// is a standard one. The C library reopens it on /dev/null in the mode
// asked for (truncating /dev/null changes nothing), and the chip, opened
// without O_TRUNC, is then put in its place. Without a path, the stream is
// reopened on its own file.
FILE *reopen_stream(freopen_fn real, bool large, const char *path, const char *mode,
                    FILE *stream) {
    char own[64];
    const char *target = path;
    if (!target) {
        std::snprintf(own, sizeof own, "/proc/self/fd/%d", fileno(stream));
        target = own;
    }
    int flags;
    chip c;
    if (!truncating_mode(mode, &flags) || !chip_at(AT_FDCWD, target, true, &c))
        return real(path, mode, stream);
    const int fd = open_untruncated(large, target, flags);
    if (fd < 0)
        return real(path, mode, stream);  // its open fails as well, before any truncation
    FILE *result = real("/dev/null", mode, stream);
    if (result && dup3(fd, fileno(result), flags & O_CLOEXEC) < 0)
        result = nullptr;
    const int err = errno;
    close(fd);
    errno = err;
    return result;
}

template <typename Real, typename Off>
int truncate_path(Real real, const char *path, Off length) {
    chip c;
    if (length < 0 || !chip_at(AT_FDCWD, path, true, &c))
        return real(path, length);
    return real(path, static_cast<Off>(c.size));
}

template <typename Real, typename Off>
int truncate_fd(Real real, int fd, Off length) {
    chip c;
    if (length < 0 || !chip_of(fd, &c))
        return real(fd, length);
    return real(fd, static_cast<Off>(c.size));
}

}  // namespace

extern "C" {

// The plain and the 64-bit forms differ only in the function they forward to.
#define OPEN_HOOKS(open_name, openat_name, large)                         \
    HOOK int open_name(const char *path, int flags, ...) {                \
        va_list ap;                                                       \
        va_start(ap, flags);                                              \
        const int fd = open_at(large, AT_FDCWD, path, flags, ap);         \
        va_end(ap);                                                       \
        return fd;                                                        \
    }                                                                     \
    HOOK int openat_name(int dirfd, const char *path, int flags, ...) {   \
        va_list ap;                                                       \
        va_start(ap, flags);                                              \
        const int fd = open_at(large, dirfd, path, flags, ap);            \
        va_end(ap);                                                       \
        return fd;                                                        \
    }
OPEN_HOOKS(open, openat, false)
OPEN_HOOKS(open64, openat64, true)

HOOK int creat(const char *path, mode_t mode) {
    return open(path, O_WRONLY | O_CREAT | O_TRUNC, mode);
}

HOOK int creat64(const char *path, mode_t mode) {
    return open64(path, O_WRONLY | O_CREAT | O_TRUNC, mode);
}

HOOK FILE *fopen(const char *path, const char *mode) {
    static fopen_fn real = next<fopen_fn>("fopen");
    return open_stream(real, false, path, mode);
}

HOOK FILE *fopen64(const char *path, const char *mode) {
    static fopen_fn real = next<fopen_fn>("fopen64");
    return open_stream(real, true, path, mode);
}

HOOK FILE *freopen(const char *path, const char *mode, FILE *stream) {
    static freopen_fn real = next<freopen_fn>("freopen");
    return reopen_stream(real, false, path, mode, stream);
}

HOOK FILE *freopen64(const char *path, const char *mode, FILE *stream) {
    static freopen_fn real = next<freopen_fn>("freopen64");
    return reopen_stream(real, true, path, mode, stream);
}

HOOK int truncate(const char *path, off_t length) {
    static auto real = next<int (*)(const char *, off_t)>("truncate");
    return truncate_path(real, path, length);
}

HOOK int truncate64(const char *path, off64_t length) {
    static auto real = next<int (*)(const char *, off64_t)>("truncate64");
    return truncate_path(real, path, length);
}

HOOK int ftruncate(int fd, off_t length) {
    static auto real = next<int (*)(int, off_t)>("ftruncate");
    return truncate_fd(real, fd, length);
}

HOOK int ftruncate64(int fd, off64_t length) {
    static auto real = next<int (*)(int, off64_t)>("ftruncate64");
    return truncate_fd(real, fd, length);
}

}  // extern "C"
