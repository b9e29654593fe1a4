#include "fuzz_harness.h"

#include <fcntl.h>
#include <sanitizer/common_interface_defs.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

fuzz_tables fuzz_table_sets[FUZZ_TABLE_SETS];

namespace {

// Two sessions, one for each generation; their getters print as the tool's
// do (the fuzzer discards both streams).
eeprom_session first, second;

void to_stderr(void *, const char *text) { fputs(text, stderr); }

eeprom_status_t to_stdout(void *, const char *text, size_t length) {
    fwrite(text, 1, length, stdout);
    fputs("\n", stderr);
    return EEPROM_SUCCESS;
}

void fixed(eeprom_session *s, int generation) {
    eeprom_session_init(s);
    eeprom_session_fix(s, generation, generation);
    s->diag = to_stderr;
    s->value = to_stdout;
    s->keep_locks = true;
}

}  // namespace

void fuzz_tables_init() {
    fixed(&first, 1);
    fixed(&second, 2);
    fuzz_table_sets[0] = {core_values(&first), core_eeproms(&first)};
    fuzz_table_sets[1] = {core_values(&second), core_eeproms(&second)};
    fuzz_table_sets[2] = {strap_values(&first), strap_eeproms(&first)};
    fuzz_table_sets[3] = {strap_values(&second), strap_eeproms(&second)};
}

void fuzz_check_failed(const char *cond, const char *file, int line) {
    // Standard error is discarded while fuzzing; the sanitizer's report
    // stream is not.
    char summary[512];
    snprintf(summary, sizeof summary, "fuzz check failed: %s (%s:%d)", cond, file, line);
    __sanitizer_report_error_summary(summary);
    abort();
}

namespace {

void must(bool ok, const char *what) {
    if (!ok) fuzz_check_failed(what, __FILE__, __LINE__);
}

void write_all(int fd, const uint8_t *bytes, size_t count, off_t at) {
    while (count > 0) {
        const ssize_t n = pwrite(fd, bytes, count, at);
        must(n > 0, "pwrite to a memory file");
        bytes += n;
        count -= static_cast<size_t>(n);
        at += n;
    }
}

size_t capacity(const eeprom_layout_t *layouts) {
    int32_t largest = 0;
    for (; layouts->version >= 0; ++layouts)
        if (layouts->size > largest) largest = layouts->size;
    return static_cast<size_t>(largest);
}

}  // namespace

int fuzz_chip_create(size_t size) {
    const int fd = memfd_create("chip", MFD_CLOEXEC | MFD_ALLOW_SEALING);
    must(fd >= 0, "memfd_create");
    must(ftruncate(fd, static_cast<off_t>(size)) == 0, "ftruncate");
    must(fcntl(fd, F_ADD_SEALS, F_SEAL_GROW | F_SEAL_SHRINK | F_SEAL_SEAL) == 0, "F_ADD_SEALS");
    return fd;
}

size_t fuzz_chip_size(int chip) {
    struct stat st;
    must(fstat(chip, &st) == 0, "fstat of a chip");
    return static_cast<size_t>(st.st_size);
}

void fuzz_chip_fill(int chip, const uint8_t *bytes, size_t count) {
    static uint8_t image[FUZZ_CHIP_MAX];
    const size_t size = fuzz_chip_size(chip);
    must(size <= sizeof image, "chip size");
    if (count > size) count = size;
    if (count) memcpy(image, bytes, count);
    memset(image + count, 0xFF, size - count);
    write_all(chip, image, size, 0);
}

void fuzz_chip_read(int chip, uint8_t *out) {
    const size_t size = fuzz_chip_size(chip);
    must(pread(chip, out, size, 0) == static_cast<ssize_t>(size), "pread of a chip");
}

void fuzz_attach(eeprom_t *region, int chip) {
    fuzz_detach(region);
    snprintf(region->path, sizeof region->path, "/proc/self/fd/%d", chip);
}

void fuzz_detach(eeprom_t *region) {
    if (region->fd >= 0) close(region->fd);
    region->fd = -1;
    region->path[0] = '\0';
    region->size = 0;
    memset(region->data, 0, capacity(region->layouts));
    // The next attach may be another chip, or this one changed meanwhile.
    eeprom_forget(region);
}

int fuzz_file_with(const uint8_t *bytes, size_t count, char *path) {
    const int fd = memfd_create("blob", MFD_CLOEXEC);
    must(fd >= 0, "memfd_create");
    if (count) write_all(fd, bytes, count, 0);
    snprintf(path, 64, "/proc/self/fd/%d", fd);
    return fd;
}

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv) {
    fuzz_tables_init();
    static char quiet[] = "-close_fd_mask=3";
    static char *args[64];
    if (*argc < 1 || *argc + 2 > static_cast<int>(sizeof args / sizeof args[0])) return 0;
    args[0] = (*argv)[0];
    args[1] = quiet;
    for (int i = 1; i < *argc; ++i) args[i + 1] = (*argv)[i];
    args[*argc + 1] = nullptr;
    *argc += 1;
    *argv = args;
    return 0;
}
