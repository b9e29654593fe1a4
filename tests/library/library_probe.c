/* library_probe: makes the library calls it is told to, as a program on the
 * headset would, and prints what each returned.
 *
 *   library_probe [quiet] "open ro" "snapshot" "text unit_sn" ...
 *
 * Each argument is one step, its words separated by blanks, on the session
 * opened last or chosen with "session N" (from 1). Each step prints a line:
 * status, value and what the diagnostics callback received, separated by
 * tabs, with backslash, newline and tab escaped. A failed read's value tells
 * what it did to the caller's memory ("length N", "written"). With "quiet"
 * no callback is installed and nothing printed: the exit status is the last
 * step's status.
 */
#define _POSIX_C_SOURCE 200809L

#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <vellum.h>

#define BIG 16384
#define UNSET ((size_t)777777)
#define FILL 0xA5

static vellum_session *sessions[4];
static void *memory[4];
static int opened;
static pid_t background = -1;
static char said[BIG], value[4 * BIG];

static void append(char *to, size_t size, const char *text) {
    const size_t n = strlen(to);
    snprintf(to + n, size - n, "%s", text);
}

static void collect(void *user, const char *text) { append(user, BIG, text); }

static void differs(void *user, const char *text, size_t length) {
    const size_t n = strlen(value);
    (void)user;
    if (length < sizeof value - n) memcpy(value + n, text, length), value[n + length] = '\0';
}

static void add(const char *format, long long number) {
    char text[64];
    snprintf(text, sizeof text, format, number);
    append(value, sizeof value, text);
}

static void hex(const unsigned char *bytes, size_t n) {
    size_t i;
    for (i = 0; i < n; ++i) add("%02llx", bytes[i]);
}

static void after_failure(size_t length, const unsigned char *out, size_t size) {
    size_t i = 0;
    if (length != UNSET) add("length %lld", (long long)length);
    while (i < size && out[i] == FILL) ++i;
    if (i < size) append(value, sizeof value, length != UNSET ? " written" : "written");
}

static void print_escaped(const char *text) {
    for (; *text; ++text) {
        const char *escape =
            *text == '\\' ? "\\\\" : *text == '\n' ? "\\n" : *text == '\t' ? "\\t" : NULL;
        if (escape) fputs(escape, stdout);
        else putchar(*text);
    }
}

/* The words as a program, NAME=VALUE words first setting its environment;
 * its standard output goes to standard error. */
static pid_t start(char **w) {
    pid_t pid;
    fflush(stdout);
    if ((pid = fork()) == 0) {
        char *eq;
        for (; *w && **w != '/' && (eq = strchr(*w, '=')) != NULL; ++w)
            *eq = '\0', setenv(*w, eq + 1, 1);
        dup2(2, 1);
        execv(w[0], w);
        _exit(127);
    }
    return pid;
}

static int finish(pid_t pid) {
    int status = 0;
    if (waitpid(pid, &status, 0) != pid) return -1;
    add("exit %lld", WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status));
    return 0;
}

/* Waits up to 10 s for another process to hold a write lock on byte
 * `offset` of the file. */
static int await_lock(const char *path, long offset) {
    const struct timespec pause = {0, 2000000};
    const int fd = open(path, O_RDONLY);
    int i;
    for (i = 0; fd >= 0 && i < 5000; ++i, nanosleep(&pause, NULL)) {
        struct flock lock;
        memset(&lock, 0, sizeof lock);
        lock.l_type = F_RDLCK;
        lock.l_whence = SEEK_SET;
        lock.l_start = offset;
        lock.l_len = 1;
        if (fcntl(fd, F_GETLK, &lock) == 0 && lock.l_type == F_WRLCK) break;
    }
    if (fd >= 0) close(fd);
    append(value, sizeof value, fd >= 0 && i < 5000 ? "locked" : "never locked");
    return 0;
}

#define REFUSED(call) \
    if ((call) != VELLUM_ERROR_INVALID_PARAM) append(value, sizeof value, #call "; ")

/* Every call with a null session, name or pointer, or an unusable session
 * memory: the value lists those not refused with VELLUM_ERROR_INVALID_PARAM. */
static int null_arguments(vellum_session *s) {
    const size_t size = vellum_session_size();
    char *mem = malloc(size + 1), t[8];
    const char *none[] = {NULL}, *words[] = {"X"};
    vellum_session *o = NULL;
    vellum_item_info item;
    vellum_region_info region;
    vellum_region_check check;
    uint32_t u;
    size_t n;
    uint8_t mac[6];
    int16_t xyz[3];
    REFUSED(vellum_open(NULL, size, 0, &o)); REFUSED(vellum_open(mem, size, 0, NULL));
    REFUSED(vellum_open(mem, size - 1, 0, &o)); REFUSED(vellum_open(mem + 1, size, 0, &o));
    REFUSED(vellum_open(mem, size, 2u, &o));
    free(mem);
    REFUSED(vellum_close(NULL)); REFUSED(vellum_set_diagnostics(NULL, collect, said));
    REFUSED(vellum_item_count(NULL, &u)); REFUSED(vellum_item_count(s, NULL));
    REFUSED(vellum_item_at(NULL, 0, &item)); REFUSED(vellum_item_at(s, 0, NULL));
    REFUSED(vellum_region_count(NULL, &u)); REFUSED(vellum_region_count(s, NULL));
    REFUSED(vellum_region_at(NULL, 0, &region)); REFUSED(vellum_region_at(s, 0, NULL));
    REFUSED(vellum_snapshot(NULL)); REFUSED(vellum_drop_snapshot(NULL));
    REFUSED(vellum_read_text(NULL, "imu_rev", t, 8, &n));
    REFUSED(vellum_read_text(s, NULL, t, 8, &n));
    REFUSED(vellum_read_text(s, "imu_rev", NULL, 8, &n));
    REFUSED(vellum_read_bytes(NULL, "imu_rev", t, 8, &n));
    REFUSED(vellum_read_bytes(s, NULL, t, 8, &n));
    REFUSED(vellum_read_bytes(s, "imu_rev", NULL, 8, &n));
    REFUSED(vellum_read_uint(NULL, "prox_near", &u)); REFUSED(vellum_read_uint(s, NULL, &u));
    REFUSED(vellum_read_uint(s, "prox_near", NULL));
    REFUSED(vellum_read_mac(NULL, "mac_addr_ble", mac)); REFUSED(vellum_read_mac(s, NULL, mac));
    REFUSED(vellum_read_mac(s, "mac_addr_ble", NULL));
    REFUSED(vellum_read_ipd(NULL, "ipd_min", xyz)); REFUSED(vellum_read_ipd(s, NULL, xyz));
    REFUSED(vellum_read_ipd(s, "ipd_min", NULL));
    REFUSED(vellum_set(NULL, "unit_sn", 1, words)); REFUSED(vellum_set(s, NULL, 0, none));
    REFUSED(vellum_set(s, "unit_sn", 1, NULL)); REFUSED(vellum_set(s, "unit_sn", 1, none));
    REFUSED(vellum_set_blob(NULL, "xrservice", t, 1)); REFUSED(vellum_set_blob(s, NULL, t, 1));
    REFUSED(vellum_set_blob(s, "xrservice", NULL, 1));
    REFUSED(vellum_apply(NULL, "/dev/null")); REFUSED(vellum_apply(s, NULL));
    REFUSED(vellum_apply_dry_run(NULL, "/dev/null")); REFUSED(vellum_apply_dry_run(s, NULL));
    REFUSED(vellum_verify(NULL, "/dev/null", NULL, NULL)); REFUSED(vellum_verify(s, NULL, NULL, NULL));
    REFUSED(vellum_use_chip_file(NULL, "core_eeprom", "f"));
    REFUSED(vellum_use_chip_file(s, NULL, "f")); REFUSED(vellum_use_chip_file(s, "core_eeprom", NULL));
    REFUSED(vellum_check(NULL, "core", &check)); REFUSED(vellum_check(s, NULL, &check));
    REFUSED(vellum_check(s, "core", NULL));
    REFUSED(vellum_reset(NULL, "core")); REFUSED(vellum_reset(s, NULL));
    REFUSED(vellum_lock(NULL, "core")); REFUSED(vellum_lock(s, NULL));
    REFUSED(vellum_unlock(NULL, "core")); REFUSED(vellum_unlock(s, NULL));
    REFUSED(vellum_upgrade(NULL, "core")); REFUSED(vellum_upgrade(s, NULL));
    REFUSED(vellum_dump(NULL, "core", t, 8, &n)); REFUSED(vellum_dump(s, NULL, t, 8, &n));
    REFUSED(vellum_dump(s, "core", NULL, 8, &n));
    REFUSED(vellum_restore(NULL, "core", t, 8)); REFUSED(vellum_restore(s, NULL, t, 8));
    REFUSED(vellum_restore(s, "core", NULL, 8));
    for (n = 0; n < 24; ++n)
        if (!vellum_status_text((int)n - 12)) add("no text for %lld; ", (long long)n - 12);
    if (strcmp(vellum_version(), VELLUM_VERSION) != 0) append(value, sizeof value, "version");
    return 0;
}

static int run_step(char **w, int n, vellum_session **s, int quiet) {
    static unsigned char out[BIG];
    size_t length = UNSET, size = n > 2 ? strtoul(w[2], NULL, 10) : sizeof out;
    const char *op = w[0], *name = n > 1 ? w[1] : "";
    int status;
    memset(out, FILL, sizeof out);
    if (size > sizeof out) size = sizeof out;
    if (strcmp(op, "open") == 0 && opened < 4) {
        memory[opened] = malloc(vellum_session_size());
        status = vellum_open(memory[opened], vellum_session_size(),
                             strcmp(name, "ro") == 0 ? VELLUM_READ_ONLY : VELLUM_READ_WRITE, s);
        if (status == VELLUM_OK && !quiet) vellum_set_diagnostics(*s, collect, said);
        sessions[opened++] = *s;
        return status;
    }
    if (strcmp(op, "session") == 0 && atoi(name) >= 1 && atoi(name) <= opened)
        return *s = sessions[atoi(name) - 1], 0;
    if (strcmp(op, "text") == 0) {
        status = vellum_read_text(*s, name, (char *)out, size, &length);
        if (status != VELLUM_OK) after_failure(length, out, size);
        else if (strlen((char *)out) == length) append(value, sizeof value, (char *)out);
        else add("length %lld disagrees", (long long)length);
        return status;
    }
    if (strcmp(op, "bytes") == 0 || strcmp(op, "mac") == 0) {
        status = op[0] == 'b' ? vellum_read_bytes(*s, name, out, size, &length)
                              : vellum_read_mac(*s, name, out);
        if (op[0] == 'm') length = status == VELLUM_OK ? 6 : UNSET, size = 6;
        if (status != VELLUM_OK) after_failure(length, out, size);
        else hex(out, length);
        return status;
    }
    if (strcmp(op, "uint") == 0 || strcmp(op, "ipd") == 0) {
        uint32_t number;
        int16_t xyz[3];
        memset(&number, FILL, sizeof number);
        memset(xyz, FILL, sizeof xyz);
        const int u = op[0] == 'u';
        status = u ? vellum_read_uint(*s, name, &number) : vellum_read_ipd(*s, name, xyz);
        if (status != VELLUM_OK) after_failure(UNSET, u ? (void *)&number : (void *)xyz, u ? 4 : 6);
        else if (u) add("%lld", number);
        else add("%lld", xyz[0]), add(" %lld", xyz[1]), add(" %lld", xyz[2]);
        return status;
    }
    if (strcmp(op, "check") == 0) {
        vellum_region_check c;
        status = vellum_check(*s, name, &c);
        if (status == VELLUM_OK)
            add("version %lld", c.version), add(" locked %lld", c.locked),
                add(" set %lld", c.items_set), add(" of %lld", c.items_contained);
        return status;
    }
    if (strcmp(op, "blob") == 0) {
        for (length = 0; length < size; ++length) out[length] = (unsigned char)(length * 37 + 11);
        return vellum_set_blob(*s, name, out, size);
    }
    if (strcmp(op, "set") == 0) return vellum_set(*s, name, n - 2, (const char *const *)w + 2);
    if (strcmp(op, "apply") == 0) return vellum_apply(*s, name);
    if (strcmp(op, "dry") == 0) return vellum_apply_dry_run(*s, name);
    if (strcmp(op, "verify") == 0) return vellum_verify(*s, name, differs, NULL);
    if (strcmp(op, "chip") == 0) return vellum_use_chip_file(*s, name, n > 2 ? w[2] : "");
    if (strcmp(op, "reset") == 0) return vellum_reset(*s, name);
    if (strcmp(op, "snapshot") == 0) return vellum_snapshot(*s);
    if (strcmp(op, "drop") == 0) return vellum_drop_snapshot(*s);
    if (strcmp(op, "run") == 0) return finish(start(w + 1));
    if (strcmp(op, "start") == 0) return (background = start(w + 1)) > 0 ? 0 : -1;
    if (strcmp(op, "wait") == 0) return finish(background);
    if (strcmp(op, "await-lock") == 0) return await_lock(name, n > 2 ? atol(w[2]) : 0);
    if (strcmp(op, "nulls") == 0) return null_arguments(*s);
    append(value, sizeof value, "unknown step");
    return -1000;
}

int main(int argc, char **argv) {
    const int quiet = argc > 1 && strcmp(argv[1], "quiet") == 0;
    vellum_session *current = NULL;
    int status = 0, a, n;
    for (a = 1 + quiet; a < argc; ++a) {
        char *w[16];
        for (n = 0, w[0] = strtok(argv[a], " "); w[n] && n < 15; w[n] = strtok(NULL, " ")) ++n;
        w[n] = NULL;
        said[0] = value[0] = '\0';
        status = n > 0 ? run_step(w, n, &current, quiet) : -1000;
        if (quiet) continue;
        printf("%d\t", status);
        print_escaped(value);
        putchar('\t');
        print_escaped(said);
        putchar('\n');
    }
    for (n = 0; n < opened; ++n) vellum_close(sessions[n]), free(memory[n]);
    return quiet ? status & 0xFF : 0;
}
