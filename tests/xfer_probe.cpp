// Performs single transfer calls on a file and prints each result, so the
// emulation tests see exactly what one call returns under the preload.
//
//   xfer_probe FILE OP...
//   OP: r:COUNT:OFFSET         pread        R:COUNT:OFFSET   pread64
//       w:COUNT:OFFSET:BYTE    pwrite       W:COUNT:OFFSET:BYTE  pwrite64
//       read:COUNT             read at the file position
//       write:COUNT:BYTE       write at the file position
//       readv:C1+C2...         readv into buffers of these sizes
//       writev:C1+C2...:BYTE   writev from buffers of these sizes, the first
//                              filled with BYTE, the next with BYTE+1, ...
//       seek:OFFSET:WHENCE     lseek, WHENCE set, cur or end
//       d:DIR                  opendir
//       trunc:SIZE             ftruncate      trunc64:SIZE     ftruncate64
//       truncate:SIZE          truncate of FILE, truncate64:SIZE likewise
//       reopen:HOW             opens FILE again, truncating it, in place of
//                              the descriptor the other OPs use; HOW:
//                              open, open64 (O_WRONLY|O_TRUNC), openat,
//                              openat64 (the same, from FILE's directory),
//                              creat, creat64, fopen, fopen64 ("wb"),
//                              freopen, freopen64 (a stream on FILE
//                              reopened "wb"), freopen-self (freopen
//                              without a path)
// Prints one line per OP: the result, and the errno name after a failure
// ("4096", "-1 EFBIG"; for d: "ok" or "-1 ENOENT"); the trunc, truncate and
// reopen OPs add FILE's size after the call ("0 8192", "-1 EINVAL 8192").
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

void print(long long ret, int err) {
    if (ret < 0)
        std::printf("-1 %s\n", strerrorname_np(err));
    else
        std::printf("%lld\n", ret);
}

bool starts(const char *op, const char *word) {
    size_t n = std::strlen(word);
    return std::strncmp(op, word, n) == 0 && op[n] == ':';
}

// "100+2000:5a" -> buffers of 100 and 2000 bytes filled with 0x5a and 0x5b.
bool buffers(const char *p, std::vector<std::vector<unsigned char>> *out) {
    for (;;) {
        char *end;
        unsigned long size = std::strtoul(p, &end, 10);
        if (end == p)
            return false;
        out->emplace_back(size, 0);
        p = end;
        if (*p != '+')
            break;
        p++;
    }
    unsigned byte = 0;
    if (*p == ':' && std::sscanf(p + 1, "%x", &byte) != 1)
        return false;
    for (auto &b : *out)
        std::memset(b.data(), static_cast<int>(byte++ & 0xFF), b.size());
    return true;
}

// FILE opened again as `how` says, truncating; -1 for an unknown way.
int reopen(const char *file, const char *how, bool *bad) {
    const std::string path = file;
    const std::string dir = path.substr(0, path.find_last_of('/') + 1);
    const char *base = file + dir.size();
    const int trunc = O_WRONLY | O_TRUNC | O_CLOEXEC;
    const std::string way = how;
    if (way == "open") return open(file, trunc);
    if (way == "open64") return open64(file, trunc);
    if (way == "creat") return creat(file, 0600);
    if (way == "creat64") return creat64(file, 0600);
    if (way == "openat" || way == "openat64") {
        const int at = open(dir.empty() ? "." : dir.c_str(), O_PATH | O_CLOEXEC);
        const int fd = way == "openat" ? openat(at, base, trunc) : openat64(at, base, trunc);
        const int err = errno;
        close(at);
        errno = err;
        return fd;
    }
    FILE *stream = nullptr;
    if (way == "fopen" || way == "fopen64") {
        stream = way == "fopen" ? std::fopen(file, "wb") : fopen64(file, "wb");
    } else if (way == "freopen" || way == "freopen64" || way == "freopen-self") {
        FILE *before = std::fopen(file, "rb");
        if (!before) return -1;
        stream = way == "freopen"     ? std::freopen(file, "wb", before)
                 : way == "freopen64" ? freopen64(file, "wb", before)
                                      : std::freopen(nullptr, "wb", before);
    } else {
        *bad = true;
        return -1;
    }
    return stream ? fileno(stream) : -1;  // the stream stays open
}

// FILE's size as fstat sees it through `fd`, else as stat sees it.
long long size_of(int fd, const char *file) {
    struct stat st;
    if ((fd >= 0 ? fstat(fd, &st) : stat(file, &st)) != 0)
        return -1;
    return static_cast<long long>(st.st_size);
}

// Runs one of the truncating ops; false when OP is none of them.
bool truncating_op(int *fd, const char *file, const char *op, bool *bad) {
    long long ret;
    long long size = 0;
    const char *arg = std::strchr(op, ':');
    const bool sized = arg && std::sscanf(arg, ":%lld", &size) == 1;
    int probe = *fd;
    if (starts(op, "trunc") || starts(op, "trunc64")) {
        if (!sized) return *bad = true;
        ret = op[5] == ':' ? ftruncate(*fd, static_cast<off_t>(size)) : ftruncate64(*fd, size);
    } else if (starts(op, "truncate") || starts(op, "truncate64")) {
        if (!sized) return *bad = true;
        ret = op[8] == ':' ? truncate(file, static_cast<off_t>(size)) : truncate64(file, size);
        probe = -1;
    } else if (starts(op, "reopen")) {
        ret = reopen(file, op + 7, bad);
        if (*bad) return true;
        if (ret >= 0) {
            close(*fd);
            *fd = probe = static_cast<int>(ret);
            ret = 0;
        } else {
            probe = -1;
        }
    } else {
        return false;
    }
    const int err = errno;
    if (ret < 0)
        std::printf("-1 %s %lld\n", strerrorname_np(err), size_of(probe, file));
    else
        std::printf("%lld %lld\n", ret, size_of(probe, file));
    return true;
}

// Runs one of the named ops; false when OP is none of them.
bool named_op(int fd, const char *op, bool *bad) {
    long long ret;
    if (starts(op, "read") || starts(op, "write")) {
        unsigned long count = 0;
        unsigned byte = 0;
        const char *args = std::strchr(op, ':');
        if (std::sscanf(args, ":%lu:%x", &count, &byte) < 1)
            return *bad = true;
        std::vector<unsigned char> buf(count, static_cast<unsigned char>(byte));
        ret = op[0] == 'r' ? read(fd, buf.data(), count) : write(fd, buf.data(), count);
    } else if (starts(op, "readv") || starts(op, "writev")) {
        std::vector<std::vector<unsigned char>> bufs;
        if (!buffers(std::strchr(op, ':') + 1, &bufs))
            return *bad = true;
        std::vector<iovec> iov;
        for (auto &b : bufs)
            iov.push_back({b.data(), b.size()});
        const int n = static_cast<int>(iov.size());
        ret = op[0] == 'r' ? readv(fd, iov.data(), n) : writev(fd, iov.data(), n);
    } else if (starts(op, "seek")) {
        long long offset = 0;
        char whence[8] = "";
        if (std::sscanf(op + 4, ":%lld:%7s", &offset, whence) != 2)
            return *bad = true;
        int w = std::strcmp(whence, "set") == 0   ? SEEK_SET
                : std::strcmp(whence, "cur") == 0 ? SEEK_CUR
                : std::strcmp(whence, "end") == 0 ? SEEK_END
                                                  : -1;
        if (w < 0)
            return *bad = true;
        ret = lseek(fd, static_cast<off_t>(offset), w);
    } else {
        return false;
    }
    print(ret, errno);
    return true;
}

}  // namespace

int main(int argc, char **argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: xfer_probe FILE OP...\n");
        return 2;
    }
    int fd = open(argv[1], O_RDWR | O_CLOEXEC);
    for (int i = 2; i < argc; i++) {
        const char *op = argv[i];
        if (op[0] == 'd' && op[1] == ':') {
            DIR *d = opendir(op + 2);
            if (d) {
                closedir(d);
                std::printf("ok\n");
            } else {
                print(-1, errno);
            }
            continue;
        }
        if (fd < 0) {
            std::fprintf(stderr, "xfer_probe: open %s: %s\n", argv[1], std::strerror(errno));
            return 1;
        }
        bool bad = false;
        if (truncating_op(&fd, argv[1], op, &bad) || named_op(fd, op, &bad)) {
            if (bad) {
                std::fprintf(stderr, "xfer_probe: bad op %s\n", op);
                return 2;
            }
            continue;
        }
        unsigned long count = 0;
        long long offset = 0;
        unsigned byte = 0;
        if (std::sscanf(op + 1, ":%lu:%lld:%x", &count, &offset, &byte) < 2) {
            std::fprintf(stderr, "xfer_probe: bad op %s\n", op);
            return 2;
        }
        std::vector<unsigned char> buf(count, static_cast<unsigned char>(byte));
        ssize_t ret;
        switch (op[0]) {
        case 'r': ret = pread(fd, buf.data(), count, offset); break;
        case 'R': ret = pread64(fd, buf.data(), count, offset); break;
        case 'w': ret = pwrite(fd, buf.data(), count, offset); break;
        case 'W': ret = pwrite64(fd, buf.data(), count, offset); break;
        default:
            std::fprintf(stderr, "xfer_probe: bad op %s\n", op);
            return 2;
        }
        print(ret, errno);
    }
    return 0;
}
