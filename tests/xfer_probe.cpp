// Performs single pread/pwrite calls on a file and prints each result, so the
// emulation tests see exactly what one call returns under the preload.
//
//   xfer_probe FILE OP...
//   OP: r:COUNT:OFFSET         pread        R:COUNT:OFFSET   pread64
//       w:COUNT:OFFSET:BYTE    pwrite       W:COUNT:OFFSET:BYTE  pwrite64
//       d:DIR                  opendir
// Prints one line per OP: the result, and the errno name after a failure
// ("4096", "-1 EFBIG"; for d: "ok" or "-1 ENOENT").
#include <dirent.h>
#include <fcntl.h>
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
        unsigned long count = 0;
        long long offset = 0;
        unsigned byte = 0;
        if (std::sscanf(op + 1, ":%lu:%lld:%x", &count, &offset, &byte) < 2) {
            std::fprintf(stderr, "xfer_probe: bad op %s\n", op);
            return 2;
        }
        if (fd < 0) {
            std::fprintf(stderr, "xfer_probe: open %s: %s\n", argv[1], std::strerror(errno));
            return 1;
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
