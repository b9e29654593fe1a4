// The EEPROM store: device lookup, region image load and store, item access
// and region maintenance.
//
// A region image on the chip: 9-byte header (magic, version, lock), items at
// fixed offsets each followed by a one-byte valid marker, and a Fletcher-16
// checksum in the last two bytes of the size of the stored layout version.
// All numbers are little-endian. Every access loads and validates the whole
// image; every change writes the whole image back with a fresh checksum.
#include "eeprom_common.h"
#include "eeprom_internal.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

size_t eeprom_join(char *dst, size_t size, std::initializer_list<const char *> parts) {
    EEPROM_ASSERT(size > 0);
    size_t n = 0;
    for (const char *part : parts)
        for (; *part != '\0' && n + 1 < size; ++part) dst[n++] = *part;
    dst[n] = '\0';
    return n;
}

void eeprom_report(std::initializer_list<const char *> parts) {
    char line[640];
    if (eeprom_join(line, sizeof line, parts) < sizeof line - 1) {
        fputs(line, stderr);
        return;
    }
    // Too long for one piece (a long file name): same bytes, several writes.
    for (const char *part : parts) fputs(part, stderr);
}

void eeprom_assert_fail(const char *cond, int line, const char *func) {
    fflush(stdout);
    fprintf(stderr, "%s: eeprom_common.cpp:%d: %s: Assertion `%s' failed.\n",
            EEPROM_PROGRAM_NAME, line, func, cond);
    abort();
}

namespace {

// Header fields of the image in a region's buffer.
uint32_t image_magic(const eeprom_t *e) { return get_le32(e->data + 0); }
uint32_t image_version(const eeprom_t *e) { return get_le32(e->data + 4); }
uint8_t &image_lock(eeprom_t *e) { return e->data[8]; }
uint8_t image_lock(const eeprom_t *e) { return e->data[8]; }

// The region's buffer is as large as its largest layout.
int32_t buffer_capacity(const eeprom_layout_t *layouts) {
    int32_t capacity = 0;
    for (; layouts->version >= 0; ++layouts)
        if (layouts->size > capacity) capacity = layouts->size;
    return capacity;
}

bool size_fits_buffer(const eeprom_t *e) {
    return e->size >= static_cast<int32_t>(EEPROM_HEADER_SIZE + EEPROM_CHECKSUM_SIZE) &&
           e->size <= buffer_capacity(e->layouts);
}

// The image in the buffer names this region and a layout it knows: the size
// of that layout, else -1.
int32_t known_layout_size(const eeprom_t *e) {
    if (image_magic(e) != e->magic) return -1;
    return eeprom_layout_size(e->layouts, image_version(e));
}

enum class xfer { read, write };

// Every transfer between a region and its device goes through here. The sysfs
// attribute hands over at most one page per call, so a run longer than a page
// arrives in two pieces: a short transfer is completed by exactly one further
// call for the rest, and a device that needs more than that is faulty. The
// header is read with a single call (`complete` false). A call interrupted
// by a signal (EINTR) moved nothing and is made again, as the same call.
// Returns the bytes moved in total (a failed second call counts -1), or a
// negative value when the first call failed.
ssize_t transfer(xfer op, int fd, uint8_t *buf, size_t count, off_t offset,
                 bool complete = true) {
    auto call = [&](size_t done) {
        ssize_t n;
        do {
            n = op == xfer::write ? pwrite(fd, buf + done, count - done, offset + done)
                                  : pread(fd, buf + done, count - done, offset + done);
        } while (n < 0 && errno == EINTR);
        return n;
    };
    ssize_t n = call(0);
    if (complete && n >= 0 && static_cast<size_t>(n) < count) n += call(static_cast<size_t>(n));
    return n;
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

int lock_region(int fd, const eeprom_t *e) {
    struct flock lock = {};
    lock.l_type = F_WRLCK;
    lock.l_whence = SEEK_SET;
    lock.l_start = e->offset;
    lock.l_len = buffer_capacity(e->layouts);
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

// The chips this process has open, for telling a file argument that is one
// of them (through a link or a bind mount) from an ordinary file.
constexpr int MAX_OPEN_CHIPS = 8;
int open_chips[MAX_OPEN_CHIPS];
int open_chip_count = 0;

}  // namespace

bool eeprom_is_open_chip(const struct stat &file) {
    for (int i = 0; i < open_chip_count; ++i) {
        struct stat chip;
        if (fstat(open_chips[i], &chip) == 0 && chip.st_dev == file.st_dev &&
            chip.st_ino == file.st_ino)
            return true;
    }
    return false;
}

// ---------------------------------------------------------------------------
// Device opening (the lookup itself is in eeprom_lookup.cpp)

eeprom_status_t eeprom_open(eeprom_t *eeprom) {
    EEPROM_ASSERT(eeprom);
    if (eeprom->fd >= 0) return EEPROM_SUCCESS;

    if (eeprom->path[0] == '\0') {
        const int found = eeprom_find(eeprom->sysfs_name, eeprom);
        if (found < 0) return found;
        if (found == 0) {
            fprintf(stderr, "Failed to find %s in sysfs - check dts files\n",
                    eeprom->sysfs_name);
            return EEPROM_ERROR_NOT_FOUND;
        }
        eeprom_report({"Found ", eeprom->name, " EEPROM at: ", eeprom->path, "\n"});
    }

    const int fd = open(eeprom->path, O_RDWR | O_CLOEXEC);
    if (fd < 0) {
        fprintf(stderr, "Open %s EEPROM %s Failed on: %d\n", eeprom->name,
                eeprom->path, errno);
        return EEPROM_ERROR_OPEN;
    }
    const int err = lock_region(fd, eeprom);
    if (err != 0) {
        fprintf(stderr, "Lock %s EEPROM %s Failed on: %d\n", eeprom->name, eeprom->path, err);
        close(fd);
        return EEPROM_ERROR_OPEN;
    }
    eeprom->fd = fd;
    if (open_chip_count < MAX_OPEN_CHIPS) open_chips[open_chip_count++] = fd;
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

    if (transfer(xfer::read, eeprom->fd, eeprom->data, EEPROM_HEADER_SIZE, eeprom->offset,
                 false) != static_cast<ssize_t>(EEPROM_HEADER_SIZE)) {
        fprintf(stderr, "Read Header Failed on errno: %d\n", errno);
        return EEPROM_ERROR_READ;
    }
    eeprom->size = 0;

    const uint32_t magic = image_magic(eeprom);
    const uint32_t version = image_version(eeprom);
    if (magic == 0 || magic == 0xFFFFFFFF || version == 0 || version == 0xFFFFFFFF) {
        fprintf(stderr, "EEPROM Uninitialized, run:\n\t%s reset %s\n",
                EEPROM_PROGRAM_NAME, eeprom->name);
        return EEPROM_ERROR_NO_INIT;
    }
    if (magic != eeprom->magic) {
        fprintf(stderr, "EEPROM has unexpected magic number, contact Client\n");
        return EEPROM_ERROR_INVALID_DATA;
    }
    if (version > eeprom->latest_version) {
        fprintf(stderr, "Unsupported EEPROM version, upgrade vellum binary.\n");
        return EEPROM_ERROR_UNSUPPORTED_VERSION;
    }
    const int32_t size = eeprom_layout_size(eeprom->layouts, version);
    if (size < 0) {
        fprintf(stderr, "EEPROM version not supported, contact Client\n");
        return EEPROM_ERROR_INVALID_DATA;
    }
    eeprom->size = size;
    EEPROM_ASSERT(size_fits_buffer(eeprom));

    if (transfer(xfer::read, eeprom->fd, eeprom->data, size, eeprom->offset) != size) {
        fprintf(stderr, "Read Data Failed on errno: %d\n", errno);
        return EEPROM_ERROR_READ;
    }

    const uint8_t *stored = eeprom->data + size - EEPROM_CHECKSUM_SIZE;
    if (eeprom_checksum(eeprom->data, size - EEPROM_CHECKSUM_SIZE) != get_le16(stored)) {
        fprintf(stderr, "EEPROM Checksum Corrupt. run TODO\n");
        return EEPROM_ERROR_INVALID_DATA;
    }
    return EEPROM_SUCCESS;
}

namespace {

bool write_run(const eeprom_t *e, uint8_t *bytes, size_t count, uint32_t at) {
    if (transfer(xfer::write, e->fd, bytes, count, e->offset + at) == static_cast<ssize_t>(count))
        return true;
    fprintf(stderr, "EEPROM write failed on errno: %d\n", errno);
    return false;
}

}  // namespace

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
//   2. the image without its checksum;
//   3. the checksum.
// A cut thus leaves the old image, the new one, or one that fails to load.
// Only a stored image the tool does not know (another magic, a newer
// version) is outside this: a reset over an image of another magic passes
// through one state, the new magic over the old rest; when that image's
// version has a layout of another size, the guard is not where it looks and
// the checksum alone refuses it (with probability 65024/65025). A
// write-protected chip acknowledges writes and keeps its contents, so every
// byte written is read back and compared before the store counts.
namespace {

eeprom_status_t store(eeprom_t *eeprom, int32_t stored_size) {
    EEPROM_ASSERT(eeprom);
    EEPROM_ASSERT(size_fits_buffer(eeprom));

    const uint32_t body = eeprom->size - EEPROM_CHECKSUM_SIZE;
    put_le16(eeprom->data + body, eeprom_checksum(eeprom->data, body));

    uint8_t guard[EEPROM_CHECKSUM_SIZE] = {0xFF, 0xFF};
    const bool longer = stored_size > eeprom->size;
    const uint32_t stored_body = longer ? stored_size - EEPROM_CHECKSUM_SIZE : 0;
    if ((longer && !write_run(eeprom, guard, sizeof guard, stored_body)) ||
        !write_run(eeprom, guard, sizeof guard, body) ||
        !write_run(eeprom, eeprom->data, body, 0) ||
        !write_run(eeprom, eeprom->data + body, EEPROM_CHECKSUM_SIZE, body))
        return EEPROM_ERROR_WRITE;

    uint8_t stored[EEPROM_IMAGE_MAX_LEN];
    const int32_t reach = longer ? stored_size : eeprom->size;
    EEPROM_ASSERT(reach <= static_cast<int32_t>(sizeof stored));
    if (transfer(xfer::read, eeprom->fd, stored, reach, eeprom->offset) != reach ||
        memcmp(stored, eeprom->data, eeprom->size) != 0 ||
        (longer && memcmp(stored + stored_body, guard, sizeof guard) != 0)) {
        fprintf(stderr, "EEPROM verify failed\n");
        return EEPROM_ERROR_WRITE;
    }
    return EEPROM_SUCCESS;
}

}  // namespace

eeprom_status_t eeprom_write(eeprom_t *eeprom) { return store(eeprom, 0); }

eeprom_status_t eeprom_load(eeprom_t *eeprom) {
    eeprom_status_t status = eeprom_open(eeprom);
    if (status == EEPROM_SUCCESS) status = eeprom_read(eeprom);
    return status;
}

// ---------------------------------------------------------------------------
// Item access

namespace {

// Opens the item's region and loads it; the item must lie inside the image.
eeprom_status_t load_item_region(const eeprom_value_t *value) {
    EEPROM_ASSERT(value->eeprom);
    return eeprom_load(value->eeprom);
}

bool item_fits_image(const eeprom_value_t *value) {
    return value->valid_offset < value->eeprom->size - EEPROM_CHECKSUM_SIZE;
}

}  // namespace

uint32_t eeprom_image_version(const eeprom_t *eeprom) {
    EEPROM_ASSERT(eeprom);
    return image_version(eeprom);
}

bool eeprom_image_locked(const eeprom_t *eeprom) {
    EEPROM_ASSERT(eeprom);
    return image_lock(eeprom) != EEPROM_UNLOCKED;
}

// The version test comes first: the marker of an item that the stored layout
// does not contain lies in bytes that mean something else, or beyond it.
eeprom_item_state_t eeprom_item_state(const eeprom_value_t *value) {
    EEPROM_ASSERT(value);
    const eeprom_t *eeprom = value->eeprom;
    if (image_version(eeprom) < value->min_version) return EEPROM_ITEM_ABSENT;
    EEPROM_ASSERT(item_fits_image(value));
    return eeprom->data[value->valid_offset] == EEPROM_VALUE_VALID ? EEPROM_ITEM_SET
                                                                   : EEPROM_ITEM_NOT_SET;
}

// The lock test comes before the version test.
eeprom_status_t eeprom_check_writable(const eeprom_value_t *value) {
    EEPROM_ASSERT(value);
    if (eeprom_image_locked(value->eeprom)) {
        fprintf(stderr, "cannot write %s, eeprom locked!\n", value->name);
        return EEPROM_ERROR_INVALID_DATA;
    }
    if (eeprom_item_state(value) == EEPROM_ITEM_ABSENT) {
        fprintf(stderr, "cannot write %s, eeprom version not supported!\n", value->name);
        return EEPROM_ERROR_INVALID_DATA;
    }
    return EEPROM_SUCCESS;
}

void eeprom_put_value(const eeprom_value_t *value, const uint8_t *src) {
    EEPROM_ASSERT(value);
    EEPROM_ASSERT(src);
    eeprom_t *eeprom = value->eeprom;
    EEPROM_ASSERT(item_fits_image(value));
    memcpy(eeprom->data + value->offset, src, value->length);
    eeprom->data[value->valid_offset] = EEPROM_VALUE_VALID;
}

eeprom_status_t eeprom_read_value(const eeprom_value_t *value, uint8_t *dst) {
    EEPROM_ASSERT(value);
    EEPROM_ASSERT(dst);

    const eeprom_status_t status = load_item_region(value);
    if (status != EEPROM_SUCCESS) return status;

    switch (eeprom_item_state(value)) {
    case EEPROM_ITEM_ABSENT:
        fprintf(stderr, "cannot read %s, eeprom version not supported!\n", value->name);
        return EEPROM_ERROR_INVALID_DATA;
    case EEPROM_ITEM_NOT_SET:
        fprintf(stderr, "%s has not been set!\n", value->name);
        return EEPROM_ERROR_INVALID_DATA;
    case EEPROM_ITEM_SET:
        break;
    }
    memcpy(dst, value->eeprom->data + value->offset, value->length);
    return EEPROM_SUCCESS;
}

eeprom_status_t eeprom_write_value(const eeprom_value_t *value,
                                   const uint8_t *src, uint16_t count) {
    EEPROM_ASSERT(value);
    EEPROM_ASSERT(src);

    if (count != value->length) {
        fprintf(stderr, "%s invalid length %d, expected %d!", value->name, count,
                value->length);
        return EEPROM_ERROR_INVALID_DATA;
    }
    eeprom_status_t status = load_item_region(value);
    if (status == EEPROM_SUCCESS) status = eeprom_check_writable(value);
    if (status != EEPROM_SUCCESS) return status;
    eeprom_put_value(value, src);
    return eeprom_write(value->eeprom);
}

// ---------------------------------------------------------------------------
// Region maintenance

namespace {

void set_newest_size(eeprom_t *eeprom) {
    eeprom->size = eeprom_layout_size(eeprom->layouts, eeprom->latest_version);
    EEPROM_ASSERT(size_fits_buffer(eeprom));
}

}  // namespace

// Works without loading the stored image, so it recovers a region that is
// blank, corrupt, foreign, too new or locked. Only the region's own bytes
// are written; other regions on the same chip keep theirs.
eeprom_status_t eeprom_reset(eeprom_t *eeprom) {
    EEPROM_ASSERT(eeprom);
    const eeprom_status_t status = eeprom_open(eeprom);
    if (status != EEPROM_SUCCESS) return status;

    fprintf(stderr, " Reseting %s\n", eeprom->name);
    set_newest_size(eeprom);
    memset(eeprom->data, 0xFF, eeprom->size);
    put_le32(eeprom->data + 0, eeprom->magic);
    put_le32(eeprom->data + 4, eeprom->latest_version);
    image_lock(eeprom) = EEPROM_UNLOCKED;
    return eeprom_write(eeprom);
}

eeprom_status_t eeprom_lock(eeprom_t *eeprom) {
    EEPROM_ASSERT(eeprom);
    const eeprom_status_t status = eeprom_load(eeprom);
    if (status != EEPROM_SUCCESS) return status;

    fprintf(stderr, " Locking %s\n", eeprom->name);
    image_lock(eeprom) = EEPROM_LOCKED;
    return eeprom_write(eeprom);
}

eeprom_status_t eeprom_unlock(eeprom_t *eeprom) {
    EEPROM_ASSERT(eeprom);
    const eeprom_status_t status = eeprom_load(eeprom);
    if (status != EEPROM_SUCCESS) return status;

    fprintf(stderr, " Unlocking %s\n", eeprom->name);
    image_lock(eeprom) = EEPROM_UNLOCKED;
    return eeprom_write(eeprom);
}

// Newer layouts keep every older item in place and append the new ones where
// the older layout kept its checksum. The old checksum bytes thus end up
// inside the first new item, so every new item is marked not set (0x00).
eeprom_status_t eeprom_upgrade(eeprom_t *eeprom, const eeprom_value_t *values) {
    EEPROM_ASSERT(eeprom);
    const eeprom_status_t status = eeprom_load(eeprom);
    if (status != EEPROM_SUCCESS) return status;

    if (image_lock(eeprom) != EEPROM_UNLOCKED) {
        fprintf(stderr, "cannot upgrade %s, eeprom locked!\n", eeprom->name);
        return EEPROM_ERROR_INVALID_DATA;
    }
    const uint32_t stored = image_version(eeprom);
    if (stored == eeprom->latest_version) {
        fprintf(stderr, "Already Latest Version!\n");
        return EEPROM_SUCCESS;
    }
    for (const eeprom_value_t *value = values; value->name[0] != '\0'; ++value) {
        if (value->eeprom != eeprom || value->min_version <= stored) continue;
        fprintf(stderr, "Invalidating New Entry %s\n", value->name);
        eeprom->data[value->valid_offset] = 0x00;
    }
    fprintf(stderr, "Upgrading %s from %d to %d\n", eeprom->name,
            static_cast<int>(stored), static_cast<int>(eeprom->latest_version));
    put_le32(eeprom->data + 4, eeprom->latest_version);
    set_newest_size(eeprom);
    return eeprom_write(eeprom);
}

// ---------------------------------------------------------------------------
// Whole images: backup and restore

int32_t eeprom_capacity(const eeprom_t *eeprom) {
    EEPROM_ASSERT(eeprom);
    return buffer_capacity(eeprom->layouts);
}

// Nothing is validated, so a damaged region can still be saved: the header
// decides how much is read only when it names this region and a known
// layout; otherwise the whole buffer is read.
eeprom_status_t eeprom_read_stored(eeprom_t *eeprom) {
    EEPROM_ASSERT(eeprom);
    eeprom->size = EEPROM_HEADER_SIZE;
    bool read = transfer(xfer::read, eeprom->fd, eeprom->data, eeprom->size, eeprom->offset) ==
                eeprom->size;
    if (read) {
        const int32_t size = known_layout_size(eeprom);
        eeprom->size = size >= 0 ? size : eeprom_capacity(eeprom);
        EEPROM_ASSERT(size_fits_buffer(eeprom));
        read = transfer(xfer::read, eeprom->fd, eeprom->data, eeprom->size, eeprom->offset) ==
               eeprom->size;
    }
    if (!read) {
        fprintf(stderr, "Read Data Failed on errno: %d\n", errno);
        return EEPROM_ERROR_READ;
    }
    return EEPROM_SUCCESS;
}

// What a load would accept, checked on `size` bytes in the buffer.
bool eeprom_valid_image(const eeprom_t *eeprom, int32_t size) {
    EEPROM_ASSERT(eeprom);
    if (size < static_cast<int32_t>(EEPROM_HEADER_SIZE + EEPROM_CHECKSUM_SIZE)) return false;
    if (size > eeprom_capacity(eeprom) || known_layout_size(eeprom) != size) return false;
    const int32_t body = size - EEPROM_CHECKSUM_SIZE;
    return eeprom_checksum(eeprom->data, body) == get_le16(eeprom->data + body);
}

// Stores the image the buffer holds as a reset stores its own: whatever the
// chip holds now, locked or not.
eeprom_status_t eeprom_restore(eeprom_t *eeprom, int32_t size) {
    EEPROM_ASSERT(eeprom);
    EEPROM_ASSERT(eeprom_valid_image(eeprom, size));
    const eeprom_status_t status = eeprom_open(eeprom);
    if (status != EEPROM_SUCCESS) return status;

    // What is stored decides whether its checksum must go first.
    uint8_t header[EEPROM_HEADER_SIZE];
    if (transfer(xfer::read, eeprom->fd, header, sizeof header, eeprom->offset, false) !=
        static_cast<ssize_t>(sizeof header)) {
        fprintf(stderr, "Read Header Failed on errno: %d\n", errno);
        return EEPROM_ERROR_READ;
    }
    const int32_t stored_size =
        get_le32(header) == eeprom->magic ? eeprom_layout_size(eeprom->layouts, get_le32(header + 4))
                                          : -1;

    fprintf(stderr, " Restoring %s\n", eeprom->name);
    eeprom->size = size;
    return store(eeprom, stored_size);
}
