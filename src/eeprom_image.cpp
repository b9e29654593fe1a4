// A region's image on its chip. The chip is found by its label, opened and
// its region's bytes locked; an image is loaded and validated as a whole, and
// stored as a whole in an order that no cut can turn into a value nobody
// wrote, then read back.
#include "eeprom_image.h"
#include "eeprom_internal.h"
#include "eeprom_lookup.h"
#include "eeprom_session.h"

#include <fcntl.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace {

// Header fields of the image in a region's buffer.
uint32_t image_magic(const eeprom_t *e) { return get_le32(e->data + 0); }
uint32_t image_version(const eeprom_t *e) { return get_le32(e->data + 4); }

bool size_fits_buffer(const eeprom_t *e) {
    return e->size >= static_cast<int32_t>(EEPROM_HEADER_SIZE + EEPROM_CHECKSUM_SIZE) &&
           e->size <= eeprom_buffer_capacity(e->layouts);
}

// Another vellum on the same region (a second `set` from a script, a reader
// polling an item) must not run its load and store in between ours: each
// would write back an image without the other's change, or read one half
// written. An exclusive record lock on the region's bytes, taken right after
// the open and held until the process ends, serialises them. It belongs to
// this open file description, so the regions of one chip never block each
// other and closing some other descriptor of the file cannot drop it.
// Regions are taken in catalogue order, so two processes cannot wait on
// each other. Returns 0, or the errno of the last attempt.
constexpr long LOCK_WAIT_MS = 10000;
constexpr long LOCK_RETRY_MS = 10;

long elapsed_ms(const timespec &start) {
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return (now.tv_sec - start.tv_sec) * 1000 + (now.tv_nsec - start.tv_nsec) / 1000000;
}

int lock_region(int fd, const eeprom_t *e, bool shared) {
    struct flock lock = {};
    lock.l_type = shared ? F_RDLCK : F_WRLCK;
    lock.l_whence = SEEK_SET;
    lock.l_start = e->offset;
    lock.l_len = eeprom_buffer_capacity(e->layouts);
    timespec start;
    clock_gettime(CLOCK_MONOTONIC, &start);
    for (;;) {
        if (fcntl(fd, F_OFD_SETLK, &lock) == 0) return 0;
        const int err = errno;
        const bool held_elsewhere = err == EAGAIN || err == EACCES || err == EINTR;
        if (!held_elsewhere || elapsed_ms(start) >= LOCK_WAIT_MS) return err;
        const timespec pause = {0, LOCK_RETRY_MS * 1000000};
        nanosleep(&pause, nullptr);
    }
}

}  // namespace

int32_t eeprom_buffer_capacity(const eeprom_layout_t *layouts) {
    int32_t capacity = 0;
    for (; layouts->version >= 0; ++layouts)
        if (layouts->size > capacity) capacity = layouts->size;
    return capacity;
}

ssize_t eeprom_transfer(eeprom_xfer op, int fd, uint8_t *buf, size_t count, off_t offset,
                        bool complete) {
    auto call = [&](size_t done) {
        ssize_t n;
        do {
            n = op == eeprom_xfer::write ? pwrite(fd, buf + done, count - done, offset + done)
                                         : pread(fd, buf + done, count - done, offset + done);
        } while (n < 0 && errno == EINTR);
        return n;
    };
    ssize_t n = call(0);
    if (complete && n >= 0 && static_cast<size_t>(n) < count) n += call(static_cast<size_t>(n));
    return n;
}

bool eeprom_is_open_chip(const eeprom_session *s, const struct stat &file) {
    for (int i = 0; s && i < s->region_count; ++i) {
        struct stat chip;
        if (s->regions[i].fd >= 0 && fstat(s->regions[i].fd, &chip) == 0 &&
            chip.st_dev == file.st_dev && chip.st_ino == file.st_ino)
            return true;
    }
    return false;
}

// ---------------------------------------------------------------------------
// Device opening

eeprom_status_t eeprom_open(eeprom_t *eeprom) {
    EEPROM_ASSERT(eeprom);
    EEPROM_ASSERT(eeprom->data);  // a session's copy, not the catalogue's template
    if (eeprom->fd >= 0 && eeprom->locked) return EEPROM_SUCCESS;
    // Open from an earlier call whose locks were released: locked again.
    if (eeprom->fd >= 0) {
        const int err = lock_region(eeprom->fd, eeprom, eeprom->write_errno != 0);
        if (err != 0) {
            eeprom_diag(eeprom->session, "Lock %s EEPROM %s Failed on: %d\n", eeprom->name,
                        eeprom->path, err);
            return EEPROM_ERROR_OPEN;
        }
        eeprom->locked = true;
        return EEPROM_SUCCESS;
    }

    if (eeprom->path[0] == '\0') {
        const int found = eeprom_find(eeprom->sysfs_name, eeprom);
        if (found < 0) return found;
        if (found == 0) {
            eeprom_diag(eeprom->session, "Failed to find %s in sysfs - check dts files\n",
                    eeprom->sysfs_name);
            return EEPROM_ERROR_NOT_FOUND;
        }
        eeprom_report(eeprom->session, {"Found ", eeprom->name, " EEPROM at: ", eeprom->path, "\n"});
    }

    // A read-only session reads with a shared lock; its stores are refused.
    // So is a chip file its user may not write, with the reason the
    // read-write open gave.
    bool read_only = eeprom->session && eeprom->session->read_only;
    int fd = open(eeprom->path, (read_only ? O_RDONLY : O_RDWR) | O_CLOEXEC);
    int write_errno = read_only ? EBADF : 0;
    if (fd < 0 && eeprom->session && eeprom->session->chip_files_given &&
        (errno == EACCES || errno == EPERM || errno == EROFS)) {
        write_errno = errno;
        read_only = true;
        fd = open(eeprom->path, O_RDONLY | O_CLOEXEC);
    }
    if (fd < 0) {
        eeprom_diag(eeprom->session, "Open %s EEPROM %s Failed on: %d\n", eeprom->name,
                    eeprom->path, errno);
        return EEPROM_ERROR_OPEN;
    }
    eeprom->write_errno = write_errno;
    const int err = lock_region(fd, eeprom, read_only);
    if (err != 0) {
        eeprom_diag(eeprom->session, "Lock %s EEPROM %s Failed on: %d\n", eeprom->name, eeprom->path, err);
        close(fd);
        return EEPROM_ERROR_OPEN;
    }
    eeprom->fd = fd;
    eeprom->locked = true;
    return EEPROM_SUCCESS;
}

// ---------------------------------------------------------------------------
// Region image load and store

int32_t eeprom_layout_size(const eeprom_layout_t *layouts, uint32_t version) {
    EEPROM_ASSERT(layouts);
    for (; layouts->version >= 0; ++layouts)
        if (static_cast<uint32_t>(layouts->version) == version) return layouts->size;
    return -1;
}

// Fletcher-16, modulus 255: sum1 ends up in the low byte, sum2 in the high.
uint16_t eeprom_checksum(const uint8_t *data, uint32_t length) {
    uint32_t sum1 = 0;
    uint32_t sum2 = 0;
    for (uint32_t i = 0; i < length; ++i) {
        sum1 = (sum1 + data[i]) % 255;
        sum2 = (sum2 + sum1) % 255;
    }
    return static_cast<uint16_t>(sum2 << 8 | sum1);
}

eeprom_status_t eeprom_read(eeprom_t *eeprom) {
    EEPROM_ASSERT(eeprom);

    eeprom->loaded = false;
    if (eeprom_transfer(eeprom_xfer::read, eeprom->fd, eeprom->data, EEPROM_HEADER_SIZE,
                        eeprom->offset, false) != static_cast<ssize_t>(EEPROM_HEADER_SIZE)) {
        eeprom_diag(eeprom->session, "Read Header Failed on errno: %d\n", errno);
        return EEPROM_ERROR_READ;
    }
    eeprom_saw(eeprom, eeprom->data, 0, EEPROM_HEADER_SIZE);
    eeprom->size = 0;

    const uint32_t magic = image_magic(eeprom);
    const uint32_t version = image_version(eeprom);
    if (magic == 0 || magic == 0xFFFFFFFF || version == 0 || version == 0xFFFFFFFF) {
        eeprom_diag(eeprom->session, "EEPROM Uninitialized, run:\n\t%s reset %s\n",
                EEPROM_PROGRAM_NAME, eeprom->name);
        return EEPROM_ERROR_NO_INIT;
    }
    if (magic != eeprom->magic) {
        eeprom_diag(eeprom->session, "EEPROM has unexpected magic number, contact Client\n");
        return EEPROM_ERROR_INVALID_DATA;
    }
    if (version > eeprom->latest_version) {
        eeprom_diag(eeprom->session, "Unsupported EEPROM version, upgrade vellum binary.\n");
        return EEPROM_ERROR_UNSUPPORTED_VERSION;
    }
    const int32_t size = eeprom_layout_size(eeprom->layouts, version);
    if (size < 0) {
        eeprom_diag(eeprom->session, "EEPROM version not supported, contact Client\n");
        return EEPROM_ERROR_INVALID_DATA;
    }
    eeprom->size = size;
    EEPROM_ASSERT(size_fits_buffer(eeprom));

    if (eeprom_transfer(eeprom_xfer::read, eeprom->fd, eeprom->data, size, eeprom->offset) != size) {
        eeprom_diag(eeprom->session, "Read Data Failed on errno: %d\n", errno);
        return EEPROM_ERROR_READ;
    }
    eeprom_saw(eeprom, eeprom->data, 0, size);

    const uint8_t *stored = eeprom->data + size - EEPROM_CHECKSUM_SIZE;
    if (eeprom_checksum(eeprom->data, size - EEPROM_CHECKSUM_SIZE) != get_le16(stored)) {
        eeprom_diag(eeprom->session, "EEPROM Checksum Corrupt. run TODO\n");
        return EEPROM_ERROR_INVALID_DATA;
    }
    eeprom->loaded = true;
    return EEPROM_SUCCESS;
}

void eeprom_saw(eeprom_t *eeprom, const uint8_t *bytes, int32_t at, int32_t count) {
    EEPROM_ASSERT(at >= 0 && at + count <= eeprom_buffer_capacity(eeprom->layouts));
    if (bytes != eeprom->chip + at) memcpy(eeprom->chip + at, bytes, count);
    if (at <= eeprom->chip_known && at + count > eeprom->chip_known)
        eeprom->chip_known = at + count;
}

void eeprom_forget(eeprom_t *eeprom) {
    EEPROM_ASSERT(eeprom);
    eeprom->chip_known = 0;
    eeprom->loaded = false;
}

void eeprom_read_raw(eeprom_t *eeprom, int32_t count) {
    EEPROM_ASSERT(count <= eeprom_buffer_capacity(eeprom->layouts));
    if (eeprom->chip_known >= count) return;
    if (eeprom_transfer(eeprom_xfer::read, eeprom->fd, eeprom->chip, count, eeprom->offset) == count)
        eeprom_saw(eeprom, eeprom->chip, 0, count);
}

// The chip takes a store in ascending byte order, and a cut (power, reset,
// a failed call) can end it after any byte. Fletcher-16 sums modulo 255
// cannot tell 0x00 from 0xFF and some changes cancel out, so an image half
// old and half new may well pass its checksum and read as a value nobody
// wrote. Hence the order:
//   0. when the stored image is this region's, of a known layout longer than
//      the new one (a restore of an older layout), 0xFF 0xFF over the stored
//      image's checksum: its checksum bytes lie inside the new image's items
//      no more, and with them gone the old image can no longer validate;
//   1. 0xFF 0xFF where the new image keeps its checksum: both checksum bytes
//      are sums modulo 255, never 0xFF, so no image of that size validates
//      from here on;
//   2. the bytes of the image without its checksum that differ from what the
//      chip holds (a byte not read from it counts as different), in
//      ascending runs;
//   3. the checksum.
// A cut thus leaves the old image, the new one, or one that fails to load.
// Only a stored image the tool does not know (another magic, a newer
// version) is outside this: a reset over an image of another magic passes
// through one state, the new magic over the old rest; when that image's
// version has a layout of another size, the guard is not where it looks and
// the checksum alone refuses it (with probability 65024/65025).
//
// Every write cycle of the chip programs a whole 32-byte page and wears it,
// and the bus moves about 11 bytes a millisecond: only what differs is
// written, and two runs are one write when the next starts in the page where
// the previous ends. When nothing differs nothing is written.
//
// A write-protected chip acknowledges writes and keeps its contents, so every
// byte written is read back and compared before the store counts.
namespace {

constexpr uint32_t CHIP_PAGE = 32;

struct span {
    uint32_t at;     // in the region
    uint32_t count;
};

struct store_plan {
    span body[EEPROM_IMAGE_MAX_LEN / CHIP_PAGE + 2];  // differing runs, ascending
    int runs;
};

uint32_t page_of(const eeprom_t *e, uint32_t at) { return (e->offset + at) / CHIP_PAGE; }

bool differs(const eeprom_t *e, uint32_t at) {
    return static_cast<int32_t>(at) >= e->chip_known || e->chip[at] != e->data[at];
}

// The differing bytes of [0, end) as runs, a run swallowing the next when
// that starts in the page where it ends.
void plan_runs(const eeprom_t *e, uint32_t end, store_plan *p) {
    p->runs = 0;
    for (uint32_t at = 0; at < end; ++at) {
        if (!differs(e, at)) continue;
        span *last = p->runs > 0 ? &p->body[p->runs - 1] : nullptr;
        const uint32_t end = last ? last->at + last->count : 0;
        if (last && (at == end || page_of(e, at) == page_of(e, end - 1))) {
            last->count = at + 1 - last->at;
        } else {
            EEPROM_ASSERT(p->runs < static_cast<int>(sizeof p->body / sizeof p->body[0]));
            p->body[p->runs++] = {at, 1};
        }
    }
}

bool write_run(const eeprom_t *e, const uint8_t *bytes, span s) {
    if (eeprom_transfer(eeprom_xfer::write, e->fd, const_cast<uint8_t *>(bytes), s.count,
                        e->offset + s.at) == static_cast<ssize_t>(s.count))
        return true;
    eeprom_diag(e->session, "EEPROM write failed on errno: %d\n", errno);
    return false;
}

// Reads a span back and compares it with what was written there.
bool read_back(eeprom_t *e, span s, const uint8_t *expected) {
    uint8_t stored[EEPROM_IMAGE_MAX_LEN];
    if (eeprom_transfer(eeprom_xfer::read, e->fd, stored, s.count, e->offset + s.at) !=
            static_cast<ssize_t>(s.count) ||
        memcmp(stored, expected, s.count) != 0)
        return false;
    eeprom_saw(e, stored, static_cast<int32_t>(s.at), static_cast<int32_t>(s.count));
    return true;
}

eeprom_status_t store(eeprom_t *eeprom, int32_t stored_size) {
    EEPROM_ASSERT(eeprom);
    EEPROM_ASSERT(size_fits_buffer(eeprom));
    if (eeprom->write_errno != 0) return eeprom_refuse_store(eeprom);

    const uint32_t size = static_cast<uint32_t>(eeprom->size);
    const uint32_t body = size - EEPROM_CHECKSUM_SIZE;
    put_le16(eeprom->data + body, eeprom_checksum(eeprom->data, body));

    store_plan plan;
    plan_runs(eeprom, body, &plan);
    const span checksum = {body, EEPROM_CHECKSUM_SIZE};
    if (plan.runs == 0 && !differs(eeprom, body) && !differs(eeprom, body + 1)) {
        eeprom->loaded = true;
        return EEPROM_SUCCESS;
    }
    static const uint8_t guard[EEPROM_CHECKSUM_SIZE] = {0xFF, 0xFF};
    const bool longer = stored_size > eeprom->size;
    const span old_checksum = {longer ? stored_size - EEPROM_CHECKSUM_SIZE : 0,
                               EEPROM_CHECKSUM_SIZE};

    eeprom->loaded = false;
    bool written = (!longer || write_run(eeprom, guard, old_checksum)) &&
                   write_run(eeprom, guard, checksum);
    for (int r = 0; written && r < plan.runs; ++r)
        written = write_run(eeprom, eeprom->data + plan.body[r].at, plan.body[r]);
    written = written && write_run(eeprom, eeprom->data + body, checksum);
    if (!written) {
        eeprom_forget(eeprom);
        return EEPROM_ERROR_WRITE;
    }

    // Everything written, read back: the runs, the checksum with the last
    // run when that ends in the checksum's page, the old checksum's guard.
    bool verified = true;
    bool checksum_read = false;
    for (int r = 0; verified && r < plan.runs; ++r) {
        span s = plan.body[r];
        if (r + 1 == plan.runs && page_of(eeprom, s.at + s.count - 1) == page_of(eeprom, body)) {
            s.count = size - s.at;
            checksum_read = true;
        }
        verified = read_back(eeprom, s, eeprom->data + s.at);
    }
    if (!checksum_read) verified = verified && read_back(eeprom, checksum, eeprom->data + body);
    verified = verified && (!longer || read_back(eeprom, old_checksum, guard));
    if (!verified) {
        eeprom_forget(eeprom);
        eeprom_diag(eeprom->session, "EEPROM verify failed\n");
        return EEPROM_ERROR_WRITE;
    }
    eeprom->loaded = true;
    return EEPROM_SUCCESS;
}

}  // namespace

eeprom_status_t eeprom_refuse_store(const eeprom_t *eeprom) {
    eeprom_diag(eeprom->session, "Open %s EEPROM %s Failed on: %d\n", eeprom->name, eeprom->path,
                eeprom->write_errno);
    return EEPROM_ERROR_OPEN;
}

eeprom_status_t eeprom_write(eeprom_t *eeprom) { return store(eeprom, -1); }

eeprom_status_t eeprom_write_over(eeprom_t *eeprom, int32_t stored_size) {
    return store(eeprom, stored_size);
}

// A region that loaded is not read again: the process holds its lock, so the
// chip still holds what the buffer does.
eeprom_status_t eeprom_load(eeprom_t *eeprom) {
    eeprom_status_t status = eeprom_open(eeprom);
    if (status == EEPROM_SUCCESS && !eeprom->loaded) status = eeprom_read(eeprom);
    return status;
}

