// Preloaded (LD_PRELOAD) into vellum under emulation. On the emulated /sys
// the `eeprom` files are plain tmpfs files, which would transfer any amount
// at once and grow when written past their end. The at24 driver's sysfs file
// does neither, and this module gives them its rules back:
//   - one call transfers at most one page (4096 bytes); the caller must loop;
//   - a transfer running past the end of the chip is cut at the end;
//   - pread at or past the end returns 0;
//   - pwrite at or past the end fails with EFBIG;
//   - a negative offset fails with EINVAL.
// It acts on file descriptors whose target ends in "/eeprom" and passes every
// other call straight through. Calls are counted from 1, reads and writes
// separately, over all eeprom files of the process.
//
// Environment, read once when the module is loaded:
//   EMU_EEPROM_PAGE_SIZE=N        bytes per call instead of 4096
//   EMU_EEPROM_FAIL_READ=CALLS[:ERRNO]
//   EMU_EEPROM_FAIL_WRITE=CALLS[:ERRNO]
//                                 the listed pread/pwrite calls fail with
//                                 ERRNO (a number or a name such as EINTR;
//                                 default EIO) and transfer nothing.
//                                 CALLS: comma-separated N, N-M or N- (from
//                                 N on), e.g. "2", "1,3", "2-"
//   EMU_EEPROM_SHORT_READ=N:K[,N:K...]
//   EMU_EEPROM_SHORT_WRITE=N:K[,N:K...]
//                                 call N transfers at most K bytes (and
//                                 really transfers them)
//   EMU_EEPROM_DELAY_US=R[:W]     every pread call first sleeps R
//                                 microseconds, every pwrite W (default R): a
//                                 slow chip (writing takes longer), to widen
//                                 races between processes
//   EMU_EEPROM_WRITE_PROTECT=1    pwrite calls acknowledge as usual and
//                                 change nothing (the chip's WP pin is high)
//   EMU_EEPROM_LOG=FILE           appends one line per call:
//                                   pread 1-0050 6656 1536 -> 4096
//                                   pwrite 1-0051 16 4090 -> -1 EIO
//                                 (op, device directory, count, offset,
//                                 result and errno name on failure), and
//                                   opendir /sys/bus/i2c/devices
//                                 for every directory opened with opendir,
//                                 or fdopendir (resolved path).
// A malformed value stops the process with status 125 and a message.

// The hooks below are declared with the C library's own types: pread and
// pwrite take the native off_t, pread64 and pwrite64 a 64-bit offset. On
// 32-bit targets the two differ, and a program built with 64-bit file
// offsets calls the 64-bit forms under the plain names' declarations; so
// this file is compiled with the native off_t whatever the build asks for.
#undef _FILE_OFFSET_BITS
#undef _TIME_BITS

#include <dlfcn.h>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

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

using pread_fn = ssize_t (*)(int, void *, size_t, off_t);
using pwrite_fn = ssize_t (*)(int, const void *, size_t, off_t);
using pread64_fn = ssize_t (*)(int, void *, size_t, off64_t);
using pwrite64_fn = ssize_t (*)(int, const void *, size_t, off64_t);
using opendir_fn = DIR *(*)(const char *);
using fdopendir_fn = DIR *(*)(int);

template <typename F>
F next(const char *name) {
    return reinterpret_cast<F>(dlsym(RTLD_NEXT, name));
}

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

void log_line(const char *fmt, ...) __attribute__((format(printf, 1, 2)));

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
    int fd = open(cfg.log, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (fd >= 0) {
        ssize_t ignored = write(fd, line, static_cast<size_t>(len));
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

// The device directory name ("1-0050") when fd is an eeprom file.
bool eeprom_device(int fd, char *device, size_t size) {
    char path[PATH_MAX];
    if (!fd_path(fd, path, sizeof path))
        return false;
    size_t len = std::strlen(path);
    const size_t suffix = sizeof "/eeprom" - 1;
    if (len <= suffix || std::strcmp(path + len - suffix, "/eeprom") != 0)
        return false;
    path[len - suffix] = '\0';
    const char *slash = std::strrchr(path, '/');
    std::snprintf(device, size, "%s", slash ? slash + 1 : path);
    return true;
}

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

// `Offset` is the real call's offset type; the offset itself is checked
// against the chip at 64 bits.
template <typename Offset, typename Buf>
ssize_t transfer(op_t op, ssize_t (*real)(int, Buf, size_t, Offset), int fd, Buf buf,
                 size_t count, off64_t offset) {
    char device[NAME_MAX + 1];
    struct stat64 st;
    if (!eeprom_device(fd, device, sizeof device) || fstat64(fd, &st) != 0)
        return real(fd, buf, count, static_cast<Offset>(offset));

    if (cfg.delay_us[op] > 0)
        usleep(static_cast<useconds_t>(cfg.delay_us[op]));
    long call = __atomic_add_fetch(&calls[op], 1, __ATOMIC_RELAXED);
    ssize_t ret = -1;
    int err = injected_failure(op, call);
    if (err != 0) {
        // nothing transferred
    } else if (offset < 0) {
        err = EINVAL;
    } else if (offset >= st.st_size) {
        if (op == READ)
            ret = 0;
        else
            err = EFBIG;
    } else {
        size_t len = count;
        if (len > cfg.page)
            len = cfg.page;
        if (len > static_cast<size_t>(st.st_size - offset))
            len = static_cast<size_t>(st.st_size - offset);
        size_t cap = injected_cap(op, call);
        if (len > cap)
            len = cap;
        if (len == 0)
            ret = 0;
        else if (op == WRITE && cfg.write_protect)
            ret = static_cast<ssize_t>(len);
        else  // within the chip, so the offset fits either type
            ret = real(fd, buf, len, static_cast<Offset>(offset));
        if (ret < 0)
            err = errno;
    }
    const char *name = op == READ ? "pread" : "pwrite";
    if (ret < 0) {
        const char *errname = strerrorname_np(err);
        log_line("%s %s %zu %lld -> -1 %s", name, device, count, static_cast<long long>(offset),
                 errname ? errname : "?");
        errno = err;
    } else {
        log_line("%s %s %zu %lld -> %zd", name, device, count, static_cast<long long>(offset),
                 ret);
    }
    return ret;
}

}  // namespace

extern "C" {

[[noreturn]] void __chk_fail(void);

__attribute__((visibility("default"))) ssize_t pread(int fd, void *buf, size_t count,
                                                     off_t offset) {
    static pread_fn real = next<pread_fn>("pread");
    return transfer(READ, real, fd, buf, count, offset);
}

__attribute__((visibility("default"))) ssize_t pread64(int fd, void *buf, size_t count,
                                                       off64_t offset) {
    static pread64_fn real = next<pread64_fn>("pread64");
    return transfer(READ, real, fd, buf, count, offset);
}

__attribute__((visibility("default"))) ssize_t pwrite(int fd, const void *buf, size_t count,
                                                      off_t offset) {
    static pwrite_fn real = next<pwrite_fn>("pwrite");
    return transfer(WRITE, real, fd, buf, count, offset);
}

__attribute__((visibility("default"))) ssize_t pwrite64(int fd, const void *buf, size_t count,
                                                        off64_t offset) {
    static pwrite64_fn real = next<pwrite64_fn>("pwrite64");
    return transfer(WRITE, real, fd, buf, count, offset);
}

// Fortified builds call these instead of pread.
__attribute__((visibility("default"))) ssize_t __pread_chk(int fd, void *buf, size_t count,
                                                           off_t offset, size_t buflen) {
    if (count > buflen)
        __chk_fail();
    return pread(fd, buf, count, offset);
}

__attribute__((visibility("default"))) ssize_t __pread64_chk(int fd, void *buf, size_t count,
                                                             off64_t offset, size_t buflen) {
    if (count > buflen)
        __chk_fail();
    return pread64(fd, buf, count, offset);
}

__attribute__((visibility("default"))) DIR *opendir(const char *path) {
    static opendir_fn real = next<opendir_fn>("opendir");
    log_line("opendir %s", path);
    return real(path);
}

__attribute__((visibility("default"))) DIR *fdopendir(int fd) {
    static fdopendir_fn real = next<fdopendir_fn>("fdopendir");
    char path[PATH_MAX];
    if (cfg.log && fd_path(fd, path, sizeof path))
        log_line("opendir %s", path);
    return real(fd);
}

}  // extern "C"
