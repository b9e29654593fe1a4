#include "harness.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <elf.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

extern char **environ;

namespace {

constexpr int kTimeoutMs = 60000;

std::string name_of(const std::string &entry) {
    return entry.substr(0, entry.find('='));
}

// The child's environment: ours without any earlier preload settings, then
// the preload, the call log and the test's entries.
std::vector<std::string> child_env(const std::string &log, const std::vector<std::string> &extra) {
    std::vector<std::string> env;
    std::string asan = "ASAN_OPTIONS=";
    for (char **e = environ; *e; e++) {
        std::string entry = *e;
        std::string name = name_of(entry);
        if (name == "ASAN_OPTIONS")
            asan = entry + ":";
        else if (name != "LD_PRELOAD" && name.rfind("EMU_EEPROM_", 0) != 0 &&
                 name.rfind("QEMU_", 0) != 0)
            env.push_back(entry);
    }
    // A sanitized vellum checks that its runtime is loaded first; the
    // preload is loaded before it.
    env.push_back(asan + "verify_asan_link_order=0");
#ifdef VELLUM_EMULATOR
    // The emulator hands the preload to the target program alone: a host
    // shell or tool in between would refuse (and complain about) a library
    // of another architecture.
    env.push_back(std::string("QEMU_LD_PREFIX=") + VELLUM_TARGET_ROOT);
    env.push_back(std::string("QEMU_SET_ENV=LD_PRELOAD=") + EEPROM_XFER_LIB);
#else
    env.push_back(std::string("LD_PRELOAD=") + EEPROM_XFER_LIB);
#endif
    env.push_back("EMU_EEPROM_LOG=" + log);
    for (const std::string &entry : extra) {
        std::erase_if(env, [&](const std::string &e) { return name_of(e) == name_of(entry); });
        env.push_back(entry);
    }
    return env;
}

#ifdef VELLUM_EMULATOR
#if defined(__aarch64__)
constexpr uint16_t kTargetMachine = EM_AARCH64;
#elif defined(__arm__)
constexpr uint16_t kTargetMachine = EM_ARM;
#endif

// Whether the file is a program built for the target, which the host runs
// only under the emulator (a cross build needs nothing from the host kernel).
bool built_for_target(const std::string &path) {
    unsigned char header[EI_NIDENT + 4] = {};
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    ssize_t got = read(fd, header, sizeof header);
    close(fd);
    // e_machine follows e_type, right after the identification bytes, in
    // the target's byte order, which is ours.
    uint16_t machine = 0;
    std::memcpy(&machine, header + EI_NIDENT + 2, sizeof machine);
    return got == static_cast<ssize_t>(sizeof header) &&
           std::memcmp(header, ELFMAG, SELFMAG) == 0 && machine == kTargetMachine;
}
#endif

std::vector<char *> pointers(std::vector<std::string> &strings) {
    std::vector<char *> out;
    for (std::string &s : strings)
        out.push_back(s.data());
    out.push_back(nullptr);
    return out;
}

long long elapsed_ms(const timespec &start) {
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return (now.tv_sec - start.tv_sec) * 1000LL + (now.tv_nsec - start.tv_nsec) / 1000000;
}

// Reads both pipes to their end, killing the child if it runs too long.
void collect(pid_t pid, int out_fd, int err_fd, run_result *r) {
    timespec start;
    clock_gettime(CLOCK_MONOTONIC, &start);
    pollfd fds[2] = {{out_fd, POLLIN, 0}, {err_fd, POLLIN, 0}};
    std::string *sinks[2] = {&r->out, &r->err};
    int open_count = 2;
    while (open_count > 0) {
        long long left = kTimeoutMs - elapsed_ms(start);
        if (left <= 0 && !r->timed_out) {
            kill(pid, SIGKILL);
            r->timed_out = true;
        }
        int n = poll(fds, 2, r->timed_out ? 1000 : static_cast<int>(left));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            if (r->timed_out)
                break;  // a descendant still holds a pipe
            continue;
        }
        for (int i = 0; i < 2; i++) {
            if (fds[i].fd < 0 || fds[i].revents == 0)
                continue;
            char buf[4096];
            ssize_t got = read(fds[i].fd, buf, sizeof buf);
            if (got > 0) {
                sinks[i]->append(buf, static_cast<size_t>(got));
            } else if (got == 0 || errno != EINTR) {
                close(fds[i].fd);
                fds[i].fd = -1;
                open_count--;
            }
        }
    }
    for (pollfd &p : fds)
        if (p.fd >= 0)
            close(p.fd);
    int wstatus = 0;
    while (waitpid(pid, &wstatus, 0) < 0 && errno == EINTR) {
    }
    if (WIFEXITED(wstatus)) {
        r->status = WEXITSTATUS(wstatus);
    } else if (WIFSIGNALED(wstatus)) {
        r->signal = WTERMSIG(wstatus);
    }
}

std::vector<std::string> read_lines(const std::string &path) {
    std::vector<std::string> lines;
    FILE *f = std::fopen(path.c_str(), "re");
    if (!f)
        return lines;
    std::string line;
    for (int c; (c = std::fgetc(f)) != EOF;) {
        if (c == '\n') {
            lines.push_back(line);
            line.clear();
        } else {
            line += static_cast<char>(c);
        }
    }
    if (!line.empty())
        lines.push_back(line);
    std::fclose(f);
    return lines;
}

}  // namespace

namespace {
int recorded_fd = -1;
std::vector<written_run> *recorded = nullptr;
}  // namespace

extern "C" ssize_t __real_pwrite(int fd, const void *buf, size_t count, off_t offset);

extern "C" ssize_t __wrap_pwrite(int fd, const void *buf, size_t count, off_t offset) {
    const ssize_t n = __real_pwrite(fd, buf, count, offset);
    if (fd == recorded_fd && recorded && n > 0) {
        const uint8_t *bytes = static_cast<const uint8_t *>(buf);
        recorded->push_back({offset, std::vector<uint8_t>(bytes, bytes + n)});
    }
    return n;
}

void record_writes(int fd, std::vector<written_run> *log) {
    recorded_fd = fd;
    recorded = log;
}

bool mount_headset(const emu_headset &headset) {
    emu_headset hs = headset;
    if (hs.kernel_bits == 0)
        hs.kernel_bits = test_kernel_bits();
    std::string err;
    if (emu_mount_sys(hs, &err))
        return true;
    ADD_FAILURE() << "cannot build the emulated headset: " << err;
    return false;
}

int test_kernel_bits() {
    const char *bits = std::getenv("VELLUM_TEST_KERNEL_BITS");
    return bits && std::strcmp(bits, "32") == 0 ? 32 : 64;
}

run_result run_program(const std::string &path, const std::vector<std::string> &args,
                       const std::vector<std::string> &env, const std::string &input) {
    run_result r;
    char log[] = "/tmp/vellum-calls-XXXXXX";
    int log_fd = mkstemp(log);
    if (log_fd < 0) {
        ADD_FAILURE() << "mkstemp: " << std::strerror(errno);
        return r;
    }
    close(log_fd);

    std::vector<std::string> argv_s = {path};
#ifdef VELLUM_EMULATOR
    if (built_for_target(path))
        argv_s.insert(argv_s.begin(), VELLUM_EMULATOR);
#endif
    argv_s.insert(argv_s.end(), args.begin(), args.end());
    std::vector<std::string> env_s = child_env(log, env);
    std::vector<char *> argv_p = pointers(argv_s), env_p = pointers(env_s);

    int in_fd = input.empty() ? open("/dev/null", O_RDONLY | O_CLOEXEC)
                              : memfd_create("vellum-stdin", MFD_CLOEXEC);
    if (!input.empty() && in_fd >= 0 &&
        (write(in_fd, input.data(), input.size()) != static_cast<ssize_t>(input.size()) ||
         lseek(in_fd, 0, SEEK_SET) != 0)) {
        close(in_fd);
        in_fd = -1;
    }
    int out_pipe[2], err_pipe[2];
    if (in_fd < 0 || pipe2(out_pipe, O_CLOEXEC) != 0 || pipe2(err_pipe, O_CLOEXEC) != 0) {
        ADD_FAILURE() << "cannot set up the child's standard streams: " << std::strerror(errno);
        unlink(log);
        return r;
    }

    pid_t pid = fork();
    if (pid == 0) {
        dup2(in_fd, 0);
        dup2(out_pipe[1], 1);
        dup2(err_pipe[1], 2);
        execve(argv_p[0], argv_p.data(), env_p.data());
        const char msg[] = "harness: exec failed\n";
        ssize_t ignored = write(2, msg, sizeof msg - 1);
        (void)ignored;
        _exit(127);
    }
    close(in_fd);
    close(out_pipe[1]);
    close(err_pipe[1]);
    if (pid < 0) {
        ADD_FAILURE() << "fork: " << std::strerror(errno);
        close(out_pipe[0]);
        close(err_pipe[0]);
    } else {
        collect(pid, out_pipe[0], err_pipe[0], &r);
        r.calls = read_lines(log);
    }
    unlink(log);
    return r;
}

run_result run_vellum(const std::vector<std::string> &args, const std::vector<std::string> &env,
                      const std::string &input) {
    return run_program(VELLUM_BINARY, args, env, input);
}

std::vector<std::string> probe(const std::string &file, const std::vector<std::string> &ops,
                               const std::vector<std::string> &env, run_result *result) {
    std::vector<std::string> args = {file};
    args.insert(args.end(), ops.begin(), ops.end());
    run_result r = run_program(XFER_PROBE, args, env);
    EXPECT_EQ(r.status, 0) << r.err;
    std::vector<std::string> lines;
    size_t start = 0;
    for (size_t nl; (nl = r.out.find('\n', start)) != std::string::npos; start = nl + 1)
        lines.push_back(r.out.substr(start, nl - start));
    if (result)
        *result = r;
    return lines;
}

size_t count_calls(const run_result &r, std::string_view prefix) {
    size_t n = 0;
    for (const std::string &line : r.calls)
        if (line.starts_with(prefix) &&
            (line.size() == prefix.size() || line[prefix.size()] == ' '))
            n++;
    return n;
}

std::vector<xfer_call> transfers(const run_result &r) {
    std::vector<xfer_call> out;
    for (const std::string &line : r.calls) {
        char op[16], device[64], error[32] = "";
        xfer_call c;
        if (std::sscanf(line.c_str(), "%15s %63s %zu %lld -> %lld %31s", op, device, &c.count,
                        &c.offset, &c.result, error) < 5 ||
            (std::strcmp(op, "pread") != 0 && std::strcmp(op, "pwrite") != 0))
            continue;
        c.op = op;
        c.device = device;
        c.error = error;
        out.push_back(c);
    }
    return out;
}

std::vector<uint8_t> read_chip(const emu_device &chip) {
    std::vector<uint8_t> bytes;
    std::string err;
    if (!emu_read_chip(chip, &bytes, &err))
        ADD_FAILURE() << err;
    return bytes;
}

void write_chip(const emu_device &chip, uint32_t offset, const std::vector<uint8_t> &bytes) {
    std::string err;
    if (!emu_write_chip(chip, offset, bytes, &err))
        ADD_FAILURE() << err;
}

uint16_t fletcher16(const uint8_t *data, size_t length) {
    uint32_t sum1 = 0, sum2 = 0;
    for (size_t i = 0; i < length; i++) {
        sum1 = (sum1 + data[i]) % 255;
        sum2 = (sum2 + sum1) % 255;
    }
    return static_cast<uint16_t>(sum2 << 8 | sum1);
}

void reseal(std::vector<uint8_t> &image) {
    if (image.size() < 2)
        return;
    uint16_t sum = fletcher16(image.data(), image.size() - 2);
    image[image.size() - 2] = static_cast<uint8_t>(sum & 0xFF);
    image[image.size() - 1] = static_cast<uint8_t>(sum >> 8);
}

std::vector<uint8_t> region_image(uint32_t size, uint32_t magic, uint32_t version, uint8_t lock,
                                  const std::vector<image_item> &items, uint8_t fill) {
    std::vector<uint8_t> image(size, fill);
    auto put = [&](size_t offset, const std::vector<uint8_t> &bytes) {
        if (offset + bytes.size() > size - std::min<size_t>(size, 2)) {
            ADD_FAILURE() << "image item at " << offset << " runs into the checksum";
            return;
        }
        std::copy(bytes.begin(), bytes.end(), image.begin() + static_cast<long>(offset));
    };
    put(0, le32(magic));
    put(4, le32(version));
    put(8, {lock});
    for (const image_item &item : items) {
        put(item.offset, item.bytes);
        if (item.valid)
            put(item.offset + item.bytes.size(), {0xA5});
    }
    reseal(image);
    return image;
}

std::vector<uint8_t> text_bytes(std::string_view text, size_t length) {
    std::vector<uint8_t> out(text.begin(), text.end());
    out.resize(length, 0);
    return out;
}

std::vector<uint8_t> le16(uint16_t value) {
    return {static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8)};
}

std::vector<uint8_t> le32(uint32_t value) {
    return {static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8),
            static_cast<uint8_t>(value >> 16), static_cast<uint8_t>(value >> 24)};
}
