// Files named by the user. Blob data and region images are read whole into
// fixed buffers; saved ones replace the previous file only once they are
// complete on disk.
#include "eeprom_files.h"
#include "eeprom_image.h"
#include "eeprom_internal.h"
#include "eeprom_session.h"

#include <fcntl.h>
#include <limits.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

// The name with every link and ".." resolved; for a file that does not exist
// yet, its folder resolved and its own name appended. False when neither
// resolves (the open that follows then reports what is wrong).
bool resolve(const char *filename, char *out) {
    if (realpath(filename, out)) return true;
    if (errno != ENOENT) return false;
    char folder[PATH_MAX];
    const char *slash = strrchr(filename, '/');
    const char *name = slash ? slash + 1 : filename;
    if (!slash)
        eeprom_join(folder, sizeof folder, {"."});
    else if (slash == filename)
        eeprom_join(folder, sizeof folder, {"/"});
    else if (static_cast<size_t>(slash - filename) < sizeof folder)
        eeprom_join(folder, static_cast<size_t>(slash - filename) + 1, {filename});
    else
        return false;
    if (!realpath(folder, out)) return false;
    const size_t n = strlen(out);
    return eeprom_join(out + n, PATH_MAX - n, {"/", name}) == strlen(name) + 1;
}

eeprom_status_t refuse_chip(const eeprom_session *s, const char *filename) {
    eeprom_refuse(s, "\n%s is an EEPROM of the headset!\n", filename);
    return EEPROM_ERROR_INVALID_PARAM;
}

}  // namespace

eeprom_status_t eeprom_refuse_chip_path(const eeprom_session *s, const char *filename) {
    EEPROM_ASSERT(filename);
    char resolved[PATH_MAX];
    if (!resolve(filename, resolved)) return EEPROM_SUCCESS;
    if (strcmp(resolved, "/sys") == 0 || strncmp(resolved, "/sys/", 5) == 0)
        return refuse_chip(s, filename);
    return EEPROM_SUCCESS;
}

void eeprom_applying(eeprom_session *s, int fd) {
    EEPROM_ASSERT(s);
    eeprom_applied_file &applied = s->applied;
    struct stat st;
    applied.active = fd >= 0 && fstat(fd, &st) == 0;
    if (applied.active) {
        applied.dev = st.st_dev;
        applied.ino = st.st_ino;
    }
    applied.prefix = "";
}

void eeprom_applying_line(eeprom_session *s, const char *prefix) {
    EEPROM_ASSERT(s);
    s->applied.prefix = prefix;
}

eeprom_status_t eeprom_open_file(const eeprom_session *s, const char *filename, int *fd) {
    EEPROM_ASSERT(filename);
    EEPROM_ASSERT(fd);
    const eeprom_status_t refused = eeprom_refuse_chip_path(s, filename);
    if (refused != EEPROM_SUCCESS) return refused;
    *fd = open(filename, O_RDONLY | O_CLOEXEC);
    if (*fd < 0) {
        eeprom_refuse(s, "\nFailed to open file %s for reading on error: %d\n", filename, errno);
        return EEPROM_ERROR_INVALID_PARAM;
    }
    struct stat st;
    const eeprom_applied_file *applied = s ? &s->applied : nullptr;
    if (applied && applied->active && fstat(*fd, &st) == 0 && st.st_dev == applied->dev &&
        st.st_ino == applied->ino) {
        close(*fd);
        *fd = -1;
        eeprom_diag(s, "%s%s is the file being applied\n", applied->prefix, filename);
        return EEPROM_ERROR_INVALID_PARAM;
    }
    return EEPROM_SUCCESS;
}

namespace {

enum class load_result { ok, too_large, read_error };

// Reads a whole source — regular file, pipe or device — into `data`, at most
// `limit` bytes. One byte beyond the limit is enough to know it is too large.
load_result read_to_end(int fd, uint8_t *data, size_t limit, size_t *got) {
    *got = 0;
    for (;;) {
        uint8_t probe;
        const bool full = *got == limit;
        const ssize_t n = full ? read(fd, &probe, 1) : read(fd, data + *got, limit - *got);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return load_result::read_error;
        if (n == 0) return load_result::ok;
        if (full) return load_result::too_large;
        *got += static_cast<size_t>(n);
    }
}

}  // namespace

eeprom_status_t eeprom_load_file(const eeprom_session *s, const char *filename, uint8_t *dst,
                                 int32_t limit, int32_t *got) {
    EEPROM_ASSERT(dst);
    EEPROM_ASSERT(got);
    *got = 0;
    int fd = -1;
    const eeprom_status_t opened = eeprom_open_file(s, filename, &fd);
    if (opened != EEPROM_SUCCESS) return opened;
    struct stat st;
    if (fstat(fd, &st) != 0) {
        close(fd);
        eeprom_refuse(s, "\nFailed to stat file %s on error: %d\n", filename, errno);
        return EEPROM_ERROR_INVALID_PARAM;
    }
    // Only a regular file has a size worth checking up front; pipes and
    // devices are read to their end below.
    if (S_ISREG(st.st_mode) && st.st_size > limit) {
        close(fd);
        eeprom_refuse(s, "\nFile Size too large %ld > %d\n", static_cast<long>(st.st_size), limit);
        return EEPROM_ERROR_INVALID_PARAM;
    }
    size_t n = 0;
    const load_result result = read_to_end(fd, dst, static_cast<size_t>(limit), &n);
    close(fd);
    if (result == load_result::read_error) {
        eeprom_refuse(s, "\nRead Failed, errno: %d\n", errno);
        return EEPROM_ERROR_READ;
    }
    if (result == load_result::too_large) {
        eeprom_refuse(s, "\nFile Size too large %ld > %d\n", static_cast<long>(limit) + 1, limit);
        return EEPROM_ERROR_INVALID_PARAM;
    }
    *got = static_cast<int32_t>(n);
    return EEPROM_SUCCESS;
}

namespace {

bool write_all(int fd, const uint8_t *data, size_t length) {
    while (length > 0) {
        const ssize_t n = write(fd, data, length);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        data += n;
        length -= static_cast<size_t>(n);
    }
    return true;
}

// Where a saved file is built before it replaces the target: beside the
// file itself (beside what a link points to), so the rename stays on one
// file system. `mode` is what the target has, or what a new file gets.
struct replacement {
    char target[PATH_MAX];
    char temporary[PATH_MAX];
    mode_t mode;
};

// Whether the target is a regular file, or none yet, that can be replaced.
bool replaceable(const char *filename, const struct stat *st, bool exists, replacement *r) {
    if (exists && !S_ISREG(st->st_mode)) return false;
    struct stat link;
    if (lstat(filename, &link) == 0 && S_ISLNK(link.st_mode)) {
        if (!exists || !realpath(filename, r->target)) return false;
    } else if (eeprom_join(r->target, sizeof r->target, {filename}) != strlen(filename)) {
        return false;
    }
    if (exists) {
        r->mode = st->st_mode & 07777;
    } else {
        const mode_t mask = umask(0);
        umask(mask);
        r->mode = 0666 & ~mask;
    }
    const char *slash = strrchr(r->target, '/');
    const size_t folder = slash ? static_cast<size_t>(slash - r->target) + 1 : 0;
    const char *name = r->target + folder;
    char prefix[PATH_MAX];
    eeprom_join(prefix, folder + 1 < sizeof prefix ? folder + 1 : sizeof prefix, {r->target});
    const size_t n = eeprom_join(r->temporary, sizeof r->temporary, {prefix, ".", name, ".XXXXXX"});
    return n == strlen(prefix) + strlen(name) + 8;
}

// Writes the file through a temporary one and renames it over the target.
// INT, TERM and HUP wait while the temporary file exists, so that no signal
// leaves it behind. Returns false, the temporary file removed, on failure;
// `created` says whether it could be made at all.
bool replace(const eeprom_session *s, const replacement &r, const char *label,
             const uint8_t *data, size_t length, bool *created) {
    sigset_t blocked, previous;
    sigemptyset(&blocked);
    sigaddset(&blocked, SIGINT);
    sigaddset(&blocked, SIGTERM);
    sigaddset(&blocked, SIGHUP);
    sigprocmask(SIG_BLOCK, &blocked, &previous);
    char temporary[PATH_MAX];
    eeprom_join(temporary, sizeof temporary, {r.temporary});
    const int fd = mkostemp(temporary, O_CLOEXEC);
    *created = fd >= 0;
    bool saved = false;
    if (*created) {
        eeprom_report(s, {label, ": "});
        fflush(stderr);
        saved = fchmod(fd, r.mode) == 0 && write_all(fd, data, length) && fsync(fd) == 0;
        saved = close(fd) == 0 && saved;
        saved = saved && rename(temporary, r.target) == 0;
        if (!saved) unlink(temporary);
    }
    sigprocmask(SIG_SETMASK, &previous, nullptr);
    return saved;
}

}  // namespace

eeprom_status_t eeprom_save_file(const eeprom_session *s, const char *label,
                                 const char *filename, const uint8_t *data, size_t length) {
    EEPROM_ASSERT(label);
    EEPROM_ASSERT(filename);
    struct stat st;
    const bool exists = stat(filename, &st) == 0;
    if (exists && eeprom_is_open_chip(s, st)) return refuse_chip(s, filename);

    replacement r;
    if (replaceable(filename, &st, exists, &r)) {
        bool created = false;
        const bool saved = replace(s, r, label, data, length, &created);
        if (created) {
            if (!saved) {
                eeprom_diag(s, "Write Failed!\n");
                return EEPROM_ERROR_WRITE;
            }
            eeprom_report(s, {filename, " written\n"});
            return EEPROM_SUCCESS;
        }
        // No file can be made beside it (a read-only folder): written in place.
    }

    FILE *file = fopen(filename, "wb");
    if (!file) {
        eeprom_diag(s, "\nFailed to create file %s for writing on error: %d\n", filename, errno);
        return EEPROM_ERROR_INVALID_PARAM;
    }
    eeprom_report(s, {label, ": "});
    fflush(stderr);
    // The data is only saved once the file has taken all of it: a full disk
    // shows up at the flush or the close, not at the buffered write.
    bool saved = fwrite(data, 1, length, file) == length;
    saved = fflush(file) == 0 && saved;
    saved = fclose(file) == 0 && saved;
    if (!saved) {
        eeprom_diag(s, "Write Failed!\n");
        return EEPROM_ERROR_WRITE;
    }
    eeprom_report(s, {filename, " written\n"});
    return EEPROM_SUCCESS;
}

// ---------------------------------------------------------------------------
// Provisioning files, line by line

eeprom_line eeprom_next_line(eeprom_line_reader *r, char *line, size_t *length) {
    *length = 0;
    bool any = false;
    for (;;) {
        if (r->pos == r->end) {
            if (r->eof) return any ? eeprom_line::line : eeprom_line::end;
            const ssize_t n = read(r->fd, r->chunk, sizeof r->chunk);
            if (n < 0 && errno == EINTR) continue;
            if (n < 0) return eeprom_line::read_error;
            r->eof = n == 0;
            r->pos = 0;
            r->end = static_cast<size_t>(n);
            continue;
        }
        const char c = r->chunk[r->pos++];
        any = true;
        if (c == '\n') return eeprom_line::line;
        if (*length == EEPROM_LINE_MAX_LEN) return eeprom_line::too_long;
        line[(*length)++] = c;
    }
}

namespace {

// What separates the words of a line.
bool separates(char c) { return c == ' ' || c == '\t' || c == '\r'; }

}  // namespace

// Unescaping only shrinks, so each word fits where it was read from.
eeprom_split eeprom_split_words(char *line, size_t length, char **words, int *count) {
    *count = 0;
    if (memchr(line, '\0', length)) return eeprom_split::zero_byte;
    line[length] = '\0';
    char *in = line;
    char *out = line;
    for (;;) {
        while (separates(*in)) ++in;
        if (*in == '\0' || *in == '#') return eeprom_split::ok;
        words[(*count)++] = out;
        if (*in == '"') {
            for (++in;; ++in) {
                if (*in == '\0') return eeprom_split::unterminated;
                if (*in == '"') break;
                if (*in == '\\' && (in[1] == '"' || in[1] == '\\')) ++in;
                *out++ = *in;
            }
            ++in;
        } else {
            while (*in != '\0' && !separates(*in)) *out++ = *in++;
            if (*in != '\0') ++in;  // the blank that ends it
        }
        // The terminator lands on a byte that the reading has passed.
        *out++ = '\0';
    }
}

