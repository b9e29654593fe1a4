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
// Prints one line per OP: the result, and the errno name after a failure
// ("4096", "-1 EFBIG"; for d: "ok" or "-1 ENOENT").
#include <dirent.h>
#include <fcntl.h>
#include <sys/uio.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
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
        if (named_op(fd, op, &bad)) {
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
