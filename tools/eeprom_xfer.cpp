// Preloaded (LD_PRELOAD) into vellum under emulation. On the emulated /sys
// the `eeprom` and `nvmem` files are plain tmpfs files, which would transfer
// any amount at once and grow when written past their end. The kernel's
// sysfs binary attributes do neither, and this module gives them their rules
// back, on every transfer path: read, write, readv, writev, pread, pwrite,
// preadv, pwritev and their 64-bit forms:
//   - one call transfers at most one page (4096 bytes) in all, however many
//     buffers it names; the caller must loop;
//   - a transfer running past the end of the chip is cut at the end;
//   - a read at or past the end returns 0;
//   - a write at or past the end fails with EFBIG (the file never grows);
//   - a negative offset fails with EINVAL;
//   - read, write, readv and writev start at the file position and advance
//     it by what they moved; lseek, SEEK_END included, sees the chip's size.
// It acts on file descriptors whose target ends in "/eeprom" or "/nvmem" and
// passes every other call straight through. Calls are counted from 1, reads
// and writes separately, over all such files of the process. (Stdio inside
// the C library reads and writes without passing through here.)
//
// Nor do they change size: sysfs ignores a size change of a binary
// attribute. An open with O_TRUNC, truncate and ftruncate of a chip's file
// succeed and leave its size and bytes as they were, so what is written
// after a truncating open lands at offset 0 of the chip. The module gives
// the tmpfs file the same (eeprom_open.cpp): when the target resolves to an
// existing `eeprom` or `nvmem` file, open, openat, creat and their 64-bit
// forms drop O_TRUNC; fopen and freopen (and their 64-bit forms), which
// open inside the C library without passing through open, open such a
// file without truncating it in a "w" mode; truncate and ftruncate (and
// their 64-bit forms) truncate it to the size it has, so the kernel's own
// checks still answer (a negative length, a descriptor not open for
// writing, no write permission: EINVAL, EINVAL, EACCES). Any other file is
// truncated as usual.
//
// Environment, read once when the module is loaded:
//   EMU_EEPROM_PAGE_SIZE=N        bytes per call instead of 4096
//   EMU_EEPROM_FAIL_READ=CALLS[:ERRNO]
//   EMU_EEPROM_FAIL_WRITE=CALLS[:ERRNO]
//                                 the listed read/write calls fail with
//                                 ERRNO (a number or a name such as EINTR;
//                                 default EIO) and transfer nothing.
//                                 CALLS: comma-separated N, N-M or N- (from
//                                 N on), e.g. "2", "1,3", "2-"
//   EMU_EEPROM_SHORT_READ=N:K[,N:K...]
//   EMU_EEPROM_SHORT_WRITE=N:K[,N:K...]
//                                 call N transfers at most K bytes (and
//                                 really transfers them)
//   EMU_EEPROM_DELAY_US=R[:W]     every read call first sleeps R
//                                 microseconds, every write W (default R): a
//                                 slow chip (writing takes longer), to widen
//                                 races between processes
//   EMU_EEPROM_WRITE_PROTECT=1    write calls acknowledge as usual and
//                                 change nothing (the chip's WP pin is high)
//   EMU_EEPROM_LOG=FILE           appends one line per call:
//                                   pread 1-0050 6656 1536 -> 4096
//                                   pwrite 1-0051 16 4090 -> -1 EIO
//                                   read 1-0050 6656 0 -> 4096
//                                 (call, device directory, count, offset or
//                                 file position, result and errno name on
//                                 failure; pread64 logs as pread, preadv as
//                                 readv, and so on), and
//                                   opendir /sys/bus/i2c/devices
//                                 for every directory opened with opendir,
//                                 open or openat with O_DIRECTORY (the path
//                                 as given), or fdopendir (resolved path).
// A malformed value stops the process with status 125 and a message.

#include "eeprom_xfer.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <sys/uio.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

using namespace eeprom_xfer;

enum op_t { READ = 0, WRITE = 1 };

constexpr int kMaxRules = 16;

struct call_range {
    long first;
    long last;
};

struct fail_rule {
    call_range calls[kMaxRules];
    int count;
    int err;
};

struct short_rule {
    long call;
    size_t bytes;
};

struct config {
    size_t page = 4096;
    fail_rule fail[2] = {};
    short_rule shorts[2][kMaxRules] = {};
    int short_count[2] = {};
    const char *log = nullptr;
    long delay_us[2] = {};
    bool write_protect = false;
};

config cfg;
long calls[2];

using read_fn = ssize_t (*)(int, void *, size_t);
using write_fn = ssize_t (*)(int, const void *, size_t);
using readv_fn = ssize_t (*)(int, const iovec *, int);
using pread_fn = ssize_t (*)(int, void *, size_t, off_t);
using pwrite_fn = ssize_t (*)(int, const void *, size_t, off_t);
using pread64_fn = ssize_t (*)(int, void *, size_t, off64_t);
using pwrite64_fn = ssize_t (*)(int, const void *, size_t, off64_t);
using preadv_fn = ssize_t (*)(int, const iovec *, int, off_t);
using preadv64_fn = ssize_t (*)(int, const iovec *, int, off64_t);
using lseek64_fn = off64_t (*)(int, off64_t, int);
using opendir_fn = DIR *(*)(const char *);
using fdopendir_fn = DIR *(*)(int);

[[noreturn]] void bad_env(const char *name, const char *value) {
    std::fprintf(stderr, "eeprom_xfer: malformed %s=%s\n", name, value);
    _exit(125);
}

bool parse_number(const char *&p, long *out) {
    char *end;
    errno = 0;
    long v = std::strtol(p, &end, 10);
    if (end == p || errno != 0 || v < 0)
        return false;
    p = end;
    *out = v;
    return true;
}

int parse_errno(const char *p) {
    long v;
    const char *q = p;
    if (parse_number(q, &v) && *q == '\0' && v > 0 && v < 4096)
        return static_cast<int>(v);
    for (int e = 1; e < 200; e++) {
        const char *name = strerrorname_np(e);
        if (name && std::strcmp(name, p) == 0)
            return e;
    }
    return 0;
}

void parse_fail(const char *name, fail_rule *rule) {
    const char *value = std::getenv(name);
    if (!value)
        return;
    rule->err = EIO;
    const char *p = value;
    for (;;) {
        call_range r;
        if (rule->count == kMaxRules || !parse_number(p, &r.first) || r.first < 1)
            bad_env(name, value);
        r.last = r.first;
        if (*p == '-') {
            p++;
            r.last = LONG_MAX;
            if (*p >= '0' && *p <= '9' && (!parse_number(p, &r.last) || r.last < r.first))
                bad_env(name, value);
        }
        rule->calls[rule->count++] = r;
        if (*p != ',')
            break;
        p++;
    }
    if (*p == ':') {
        rule->err = parse_errno(p + 1);
        if (rule->err == 0)
            bad_env(name, value);
    } else if (*p != '\0') {
        bad_env(name, value);
    }
}

void parse_shorts(const char *name, short_rule *rules, int *count) {
    const char *value = std::getenv(name);
    if (!value)
        return;
    const char *p = value;
    for (;;) {
        long call, bytes;
        if (*count == kMaxRules || !parse_number(p, &call) || call < 1 || *p++ != ':' ||
            !parse_number(p, &bytes))
            bad_env(name, value);
        rules[(*count)++] = {call, static_cast<size_t>(bytes)};
        if (*p == '\0')
            break;
        if (*p++ != ',')
            bad_env(name, value);
    }
}

__attribute__((constructor)) void load_config() {
    if (const char *value = std::getenv("EMU_EEPROM_PAGE_SIZE")) {
        const char *p = value;
        long page;
        if (!parse_number(p, &page) || *p != '\0' || page < 1)
            bad_env("EMU_EEPROM_PAGE_SIZE", value);
        cfg.page = static_cast<size_t>(page);
    }
    parse_fail("EMU_EEPROM_FAIL_READ", &cfg.fail[READ]);
    parse_fail("EMU_EEPROM_FAIL_WRITE", &cfg.fail[WRITE]);
    parse_shorts("EMU_EEPROM_SHORT_READ", cfg.shorts[READ], &cfg.short_count[READ]);
    parse_shorts("EMU_EEPROM_SHORT_WRITE", cfg.shorts[WRITE], &cfg.short_count[WRITE]);
    if (const char *value = std::getenv("EMU_EEPROM_DELAY_US")) {
        const char *p = value;
        if (!parse_number(p, &cfg.delay_us[READ]))
            bad_env("EMU_EEPROM_DELAY_US", value);
        cfg.delay_us[WRITE] = cfg.delay_us[READ];
        if ((*p == ':' && !parse_number(++p, &cfg.delay_us[WRITE])) || *p != '\0')
            bad_env("EMU_EEPROM_DELAY_US", value);
    }
    if (const char *value = std::getenv("EMU_EEPROM_WRITE_PROTECT")) {
        if (std::strcmp(value, "0") != 0 && std::strcmp(value, "1") != 0)
            bad_env("EMU_EEPROM_WRITE_PROTECT", value);
        cfg.write_protect = value[0] == '1';
    }
    const char *log = std::getenv("EMU_EEPROM_LOG");
    if (log && *log)
        cfg.log = log;
}

}  // namespace

namespace eeprom_xfer {

void log_line(const char *fmt, ...) {
    if (!cfg.log)
        return;
    int saved = errno;
    char line[PATH_MAX + 64];
    va_list ap;
    va_start(ap, fmt);
    int len = std::vsnprintf(line, sizeof line - 1, fmt, ap);
    va_end(ap);
    if (len < 0)
        len = 0;
    if (len > static_cast<int>(sizeof line) - 2)
        len = static_cast<int>(sizeof line) - 2;
    line[len++] = '\n';
    static write_fn real_write = next<write_fn>("write");
    int fd = open(cfg.log, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (fd >= 0) {
        ssize_t ignored = real_write(fd, line, static_cast<size_t>(len));
        (void)ignored;
        close(fd);
    }
    errno = saved;
}

bool fd_path(int fd, char *out, size_t size) {
    char link[64];
    std::snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
    ssize_t n = readlink(link, out, size - 1);
    if (n < 0)
        return false;
    out[n] = '\0';
    return true;
}

bool chip_of(int fd, chip *c) {
    char path[PATH_MAX];
    if (!fd_path(fd, path, sizeof path))
        return false;
    char *name = std::strrchr(path, '/');
    if (!name || (std::strcmp(name, "/eeprom") != 0 && std::strcmp(name, "/nvmem") != 0))
        return false;
    const bool nvmem = name[1] == 'n';
    *name = '\0';
    if (nvmem) {
        name = std::strrchr(path, '/');
        if (!name)
            return false;
        *name = '\0';
    }
    const char *slash = std::strrchr(path, '/');
    const char *device = slash ? slash + 1 : path;
    size_t len = std::strlen(device);
    if (len >= sizeof c->device)
        len = sizeof c->device - 1;
    std::memcpy(c->device, device, len);
    c->device[len] = '\0';
    struct stat64 st;
    if (fstat64(fd, &st) != 0)
        return false;
    c->size = st.st_size;
    return true;
}

}  // namespace eeprom_xfer

namespace {

int injected_failure(op_t op, long call) {
    const fail_rule &rule = cfg.fail[op];
    for (int i = 0; i < rule.count; i++)
        if (call >= rule.calls[i].first && call <= rule.calls[i].last)
            return rule.err;
    return 0;
}

size_t injected_cap(op_t op, long call) {
    for (int i = 0; i < cfg.short_count[op]; i++)
        if (cfg.shorts[op][i].call == call)
            return cfg.shorts[op][i].bytes;
    return static_cast<size_t>(-1);
}

// Moves `len` bytes between the buffers and the file at `offset` with the C
// library's own calls; the file is a plain one underneath.
ssize_t move(op_t op, int fd, const iovec *iov, int iovcnt, size_t len, off64_t offset) {
    static pread64_fn real_pread = next<pread64_fn>("pread64");
    static pwrite64_fn real_pwrite = next<pwrite64_fn>("pwrite64");
    size_t done = 0;
    for (int i = 0; i < iovcnt && done < len; i++) {
        size_t part = iov[i].iov_len < len - done ? iov[i].iov_len : len - done;
        off64_t at = offset + static_cast<off64_t>(done);
        ssize_t n = op == READ ? real_pread(fd, iov[i].iov_base, part, at)
                               : real_pwrite(fd, iov[i].iov_base, part, at);
        if (n < 0)
            return done > 0 ? static_cast<ssize_t>(done) : -1;
        done += static_cast<size_t>(n);
        if (static_cast<size_t>(n) < part)
            break;
    }
    return static_cast<ssize_t>(done);
}

// One call on a chip's file under the kernel's rules. `offset` is where a
// positioned call (pread, preadv, ...) transfers; the others (offset < 0
// and `positioned` false) start at the file position and advance it.
ssize_t transfer(op_t op, const char *name, const chip &c, int fd, const iovec *iov, int iovcnt,
                 bool positioned, off64_t offset) {
    static lseek64_fn real_lseek = next<lseek64_fn>("lseek64");
    if (iovcnt < 0 || iovcnt > IOV_MAX) {
        errno = EINVAL;
        return -1;
    }
    if (!positioned) {
        offset = real_lseek(fd, 0, SEEK_CUR);
        if (offset < 0)
            return -1;
    }
    size_t count = 0;
    for (int i = 0; i < iovcnt; i++)
        count += iov[i].iov_len;

    if (cfg.delay_us[op] > 0)
        usleep(static_cast<useconds_t>(cfg.delay_us[op]));
    long call = __atomic_add_fetch(&calls[op], 1, __ATOMIC_RELAXED);
    ssize_t ret = -1;
    int err = injected_failure(op, call);
    if (err != 0) {
        // nothing transferred
    } else if (offset < 0) {
        err = EINVAL;
    } else if (offset >= c.size) {
        if (op == READ)
            ret = 0;
        else
            err = EFBIG;
    } else {
        size_t len = count;
        if (len > cfg.page)
            len = cfg.page;
        if (len > static_cast<size_t>(c.size - offset))
            len = static_cast<size_t>(c.size - offset);
        size_t cap = injected_cap(op, call);
        if (len > cap)
            len = cap;
        if (len == 0)
            ret = 0;
        else if (op == WRITE && cfg.write_protect)
            ret = static_cast<ssize_t>(len);
        else
            ret = move(op, fd, iov, iovcnt, len, offset);
        if (ret < 0)
            err = errno;
    }
    if (!positioned && ret > 0)
        real_lseek(fd, offset + ret, SEEK_SET);
    if (ret < 0) {
        const char *errname = strerrorname_np(err);
        log_line("%s %s %zu %lld -> -1 %s", name, c.device, count,
                 static_cast<long long>(offset), errname ? errname : "?");
        errno = err;
    } else {
        log_line("%s %s %zu %lld -> %zd", name, c.device, count, static_cast<long long>(offset),
                 ret);
    }
    return ret;
}

// The hooks: a chip's file goes through transfer(), anything else to the
// C library's own call.
template <typename Real, typename Buf, typename... Offset>
ssize_t hook(op_t op, const char *name, Real real, int fd, Buf buf, size_t count,
             Offset... offset) {
    chip c;
    if (!chip_of(fd, &c))
        return real(fd, buf, count, offset...);
    iovec one = {const_cast<void *>(static_cast<const void *>(buf)), count};
    return transfer(op, name, c, fd, &one, 1, sizeof...(offset) > 0,
                    static_cast<off64_t>((0 + ... + offset)));
}

template <typename Real, typename... Offset>
ssize_t hook_vector(op_t op, const char *name, Real real, int fd, const iovec *iov, int iovcnt,
                    Offset... offset) {
    chip c;
    if (!chip_of(fd, &c))
        return real(fd, iov, iovcnt, offset...);
    return transfer(op, name, c, fd, iov, iovcnt, sizeof...(offset) > 0,
                    static_cast<off64_t>((0 + ... + offset)));
}

}  // namespace

extern "C" {

[[noreturn]] void __chk_fail(void);

HOOK ssize_t read(int fd, void *buf, size_t count) {
    static read_fn real = next<read_fn>("read");
    return hook(READ, "read", real, fd, buf, count);
}

HOOK ssize_t write(int fd, const void *buf, size_t count) {
    static write_fn real = next<write_fn>("write");
    return hook(WRITE, "write", real, fd, buf, count);
}

HOOK ssize_t pread(int fd, void *buf, size_t count, off_t offset) {
    static pread_fn real = next<pread_fn>("pread");
    return hook(READ, "pread", real, fd, buf, count, offset);
}

HOOK ssize_t pread64(int fd, void *buf, size_t count, off64_t offset) {
    static pread64_fn real = next<pread64_fn>("pread64");
    return hook(READ, "pread", real, fd, buf, count, offset);
}

HOOK ssize_t pwrite(int fd, const void *buf, size_t count, off_t offset) {
    static pwrite_fn real = next<pwrite_fn>("pwrite");
    return hook(WRITE, "pwrite", real, fd, buf, count, offset);
}

HOOK ssize_t pwrite64(int fd, const void *buf, size_t count, off64_t offset) {
    static pwrite64_fn real = next<pwrite64_fn>("pwrite64");
    return hook(WRITE, "pwrite", real, fd, buf, count, offset);
}

HOOK ssize_t readv(int fd, const iovec *iov, int iovcnt) {
    static readv_fn real = next<readv_fn>("readv");
    return hook_vector(READ, "readv", real, fd, iov, iovcnt);
}

HOOK ssize_t writev(int fd, const iovec *iov, int iovcnt) {
    static readv_fn real = next<readv_fn>("writev");
    return hook_vector(WRITE, "writev", real, fd, iov, iovcnt);
}

HOOK ssize_t preadv(int fd, const iovec *iov, int iovcnt, off_t offset) {
    static preadv_fn real = next<preadv_fn>("preadv");
    return hook_vector(READ, "readv", real, fd, iov, iovcnt, offset);
}

HOOK ssize_t preadv64(int fd, const iovec *iov, int iovcnt, off64_t offset) {
    static preadv64_fn real = next<preadv64_fn>("preadv64");
    return hook_vector(READ, "readv", real, fd, iov, iovcnt, offset);
}

HOOK ssize_t pwritev(int fd, const iovec *iov, int iovcnt, off_t offset) {
    static preadv_fn real = next<preadv_fn>("pwritev");
    return hook_vector(WRITE, "writev", real, fd, iov, iovcnt, offset);
}

HOOK ssize_t pwritev64(int fd, const iovec *iov, int iovcnt, off64_t offset) {
    static preadv64_fn real = next<preadv64_fn>("pwritev64");
    return hook_vector(WRITE, "writev", real, fd, iov, iovcnt, offset);
}

// Fortified builds call these instead of read and pread.
HOOK ssize_t __read_chk(int fd, void *buf, size_t count, size_t buflen) {
    if (count > buflen)
        __chk_fail();
    return read(fd, buf, count);
}

HOOK ssize_t __pread_chk(int fd, void *buf, size_t count, off_t offset, size_t buflen) {
    if (count > buflen)
        __chk_fail();
    return pread(fd, buf, count, offset);
}

HOOK ssize_t __pread64_chk(int fd, void *buf, size_t count, off64_t offset, size_t buflen) {
    if (count > buflen)
        __chk_fail();
    return pread64(fd, buf, count, offset);
}

HOOK DIR *opendir(const char *path) {
    static opendir_fn real = next<opendir_fn>("opendir");
    log_line("opendir %s", path);
    return real(path);
}

HOOK DIR *fdopendir(int fd) {
    static fdopendir_fn real = next<fdopendir_fn>("fdopendir");
    char path[PATH_MAX];
    if (cfg.log && fd_path(fd, path, sizeof path))
        log_line("opendir %s", path);
    return real(fd);
}

}  // extern "C"
