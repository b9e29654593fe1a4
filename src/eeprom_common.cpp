// The EEPROM store (device lookup, region image load and store, item access,
// region maintenance) and the value codecs of every item kind.
//
// A region image on the chip: 9-byte header (magic, version, lock), items at
// fixed offsets each followed by a one-byte valid marker, and a Fletcher-16
// checksum in the last two bytes of the size of the stored layout version.
// All numbers are little-endian. Every access loads and validates the whole
// image; every change writes the whole image back with a fresh checksum.
#include "eeprom_common.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

// Programming errors (a missing record or word list, an item whose length
// does not suit its codec) stop the process in every build type.
#define EEPROM_ASSERT(cond) \
    ((cond) ? (void)0 : eeprom_assert_fail(#cond, __LINE__, __func__))

namespace {

[[noreturn]] void eeprom_assert_fail(const char *cond, int line,
                                     const char *func) {
    fflush(stdout);
    fprintf(stderr, "%s: eeprom_common.cpp:%d: %s: Assertion `%s' failed.\n",
            EEPROM_PROGRAM_NAME, line, func, cond);
    abort();
}

uint16_t get_le16(const uint8_t *p) {
    return static_cast<uint16_t>(p[0] | p[1] << 8);
}

uint32_t get_le32(const uint8_t *p) {
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
           static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

void put_le16(uint8_t *p, uint16_t v) {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
}

void put_le32(uint8_t *p, uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

// Header fields of the image in a region's buffer.
uint32_t image_magic(const eeprom_t *e) { return get_le32(e->data + 0); }
uint32_t image_version(const eeprom_t *e) { return get_le32(e->data + 4); }
uint8_t &image_lock(eeprom_t *e) { return e->data[8]; }

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

// The sysfs attribute hands over at most one page per call, so a region
// larger than a page arrives in two pieces. A short transfer is completed by
// exactly one further call for the rest; a device that needs more than that
// is faulty. Returns the bytes moved in total (a failed second call counts
// -1), or a negative value when the first call failed.
ssize_t transfer(bool writing, const eeprom_t *e) {
    const size_t count = static_cast<size_t>(e->size);
    auto call = [&](size_t done) {
        return writing ? pwrite(e->fd, e->data + done, count - done, e->offset + done)
                       : pread(e->fd, e->data + done, count - done, e->offset + done);
    };
    ssize_t n = call(0);
    if (n >= 0 && static_cast<size_t>(n) < count) n += call(static_cast<size_t>(n));
    return n;
}

bool name_has_prefix(const char *name, const char *prefix) {
    return strncmp(name, prefix, strlen(prefix)) == 0;
}

}  // namespace

// ---------------------------------------------------------------------------
// Device lookup and opening

int eeprom_find(const char *sysfs_name, eeprom_t *eeprom) {
    EEPROM_ASSERT(sysfs_name);
    EEPROM_ASSERT(sysfs_name[0]);

    DIR *base = opendir(EEPROM_SYSFS_BASE);
    if (!base) {
        const int err = errno;
        fprintf(stderr, "opendir(%s) ret: %d\n", EEPROM_SYSFS_BASE, err);
        return -err;
    }

    bool found = false;
    const dirent *entry;
    while (!found && (entry = readdir(base)) != nullptr) {
        // Devices are links named <bus>-<4-hex-digit address>; the headset's
        // EEPROMs answer at 0x50 and 0x51 only.
        const size_t len = strlen(entry->d_name);
        if (entry->d_type != DT_LNK || len < 4) continue;
        const char *address = entry->d_name + len - 4;
        if (strcmp(address, "0050") != 0 && strcmp(address, "0051") != 0) continue;

        char device_dir[288];
        snprintf(device_dir, sizeof device_dir, "%s/%s", EEPROM_SYSFS_BASE, entry->d_name);
        DIR *device = opendir(device_dir);
        if (!device) {
            const int err = errno;
            fprintf(stderr, "opendir(%s) ret: %d\n", device_dir, err);
            closedir(base);
            return -err;
        }
        // The driver names a child after the device-tree label, with a
        // number appended that follows probe order: match the label as a
        // prefix.
        const dirent *child;
        while ((child = readdir(device)) != nullptr) {
            if (!name_has_prefix(child->d_name, sysfs_name)) continue;
            found = true;
            if (eeprom)
                snprintf(eeprom->path, sizeof eeprom->path, "%s/%s/eeprom",
                         EEPROM_SYSFS_BASE, entry->d_name);
            break;
        }
        closedir(device);
    }
    closedir(base);
    return found ? 1 : 0;
}

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
        fprintf(stderr, "Found %s EEPROM at: %s\n", eeprom->name, eeprom->path);
    }

    const int fd = open(eeprom->path, O_RDWR | O_CLOEXEC);
    if (fd < 0) {
        fprintf(stderr, "Open %s EEPROM %s Failed on: %d\n", eeprom->name,
                eeprom->path, errno);
        return EEPROM_ERROR_OPEN;
    }
    eeprom->fd = fd;
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

    if (pread(eeprom->fd, eeprom->data, EEPROM_HEADER_SIZE, eeprom->offset) !=
        static_cast<ssize_t>(EEPROM_HEADER_SIZE)) {
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

    const ssize_t n = transfer(false, eeprom);
    if (n != size) {
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

eeprom_status_t eeprom_write(eeprom_t *eeprom) {
    EEPROM_ASSERT(eeprom);
    EEPROM_ASSERT(size_fits_buffer(eeprom));

    const uint32_t body = eeprom->size - EEPROM_CHECKSUM_SIZE;
    put_le16(eeprom->data + body, eeprom_checksum(eeprom->data, body));

    if (transfer(true, eeprom) != eeprom->size) {
        fprintf(stderr, "EEPROM write failed on errno: %d\n", errno);
        return EEPROM_ERROR_WRITE;
    }
    return EEPROM_SUCCESS;
}

// ---------------------------------------------------------------------------
// Item access

namespace {

// Opens the item's region and loads it; the item must lie inside the image.
eeprom_status_t load_item_region(const eeprom_value_t *value) {
    eeprom_t *eeprom = value->eeprom;
    EEPROM_ASSERT(eeprom);
    eeprom_status_t status = eeprom_open(eeprom);
    if (status == EEPROM_SUCCESS) status = eeprom_read(eeprom);
    return status;
}

bool item_fits_image(const eeprom_value_t *value) {
    return value->valid_offset < value->eeprom->size - EEPROM_CHECKSUM_SIZE;
}

}  // namespace

eeprom_status_t eeprom_read_value(const eeprom_value_t *value, uint8_t *dst) {
    EEPROM_ASSERT(value);
    EEPROM_ASSERT(dst);

    const eeprom_status_t status = load_item_region(value);
    if (status != EEPROM_SUCCESS) return status;

    const eeprom_t *eeprom = value->eeprom;
    if (image_version(eeprom) < value->min_version) {
        fprintf(stderr, "cannot read %s, eeprom version not supported!\n", value->name);
        return EEPROM_ERROR_INVALID_DATA;
    }
    EEPROM_ASSERT(item_fits_image(value));
    if (eeprom->data[value->valid_offset] != EEPROM_VALUE_VALID) {
        fprintf(stderr, "%s has not been set!\n", value->name);
        return EEPROM_ERROR_INVALID_DATA;
    }
    memcpy(dst, eeprom->data + value->offset, value->length);
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
    const eeprom_status_t status = load_item_region(value);
    if (status != EEPROM_SUCCESS) return status;

    eeprom_t *eeprom = value->eeprom;
    if (image_lock(eeprom) != EEPROM_UNLOCKED) {
        fprintf(stderr, "cannot write %s, eeprom locked!\n", value->name);
        return EEPROM_ERROR_INVALID_DATA;
    }
    if (image_version(eeprom) < value->min_version) {
        fprintf(stderr, "cannot write %s, eeprom version not supported!\n", value->name);
        return EEPROM_ERROR_INVALID_DATA;
    }
    EEPROM_ASSERT(item_fits_image(value));
    memcpy(eeprom->data + value->offset, src, value->length);
    eeprom->data[value->valid_offset] = EEPROM_VALUE_VALID;
    return eeprom_write(eeprom);
}

// ---------------------------------------------------------------------------
// Region maintenance

namespace {

eeprom_status_t open_and_load(eeprom_t *eeprom) {
    eeprom_status_t status = eeprom_open(eeprom);
    if (status == EEPROM_SUCCESS) status = eeprom_read(eeprom);
    return status;
}

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
    const eeprom_status_t status = open_and_load(eeprom);
    if (status != EEPROM_SUCCESS) return status;

    fprintf(stderr, " Locking %s\n", eeprom->name);
    image_lock(eeprom) = EEPROM_LOCKED;
    return eeprom_write(eeprom);
}

eeprom_status_t eeprom_unlock(eeprom_t *eeprom) {
    EEPROM_ASSERT(eeprom);
    const eeprom_status_t status = open_and_load(eeprom);
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
    const eeprom_status_t status = open_and_load(eeprom);
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
// Scalar value codecs

namespace {

// Label and newline on standard error, the value alone on standard output;
// each stream is flushed before the other is written, so a terminal shows
// one line and a caller reading standard output gets the bare value.
void print_value(const eeprom_value_t *value, const void *text, size_t length) {
    fprintf(stderr, "%s: ", value->name);
    fflush(stderr);
    fwrite(text, 1, length, stdout);
    fflush(stdout);
    fputs("\n", stderr);
}

void print_value_text(const eeprom_value_t *value, const char *text) {
    print_value(value, text, strlen(text));
}

// Reads a decimal number as the "%u" and "%d" conversions do: leading white
// space, an optional sign, at least one digit, anything after it ignored.
// The magnitude is kept whole (saturating just above 32 bits) so that a
// number that does not fit is refused instead of silently wrapped.
struct decimal_t {
    bool negative;
    uint64_t magnitude;
};
constexpr uint64_t DECIMAL_TOO_LARGE = 0x100000000ULL;

bool parse_decimal(const char *text, decimal_t *out) {
    const char *p = text;
    while (*p == ' ' || (*p >= '\t' && *p <= '\r')) ++p;
    out->negative = *p == '-';
    if (*p == '-' || *p == '+') ++p;
    if (*p < '0' || *p > '9') return false;
    out->magnitude = 0;
    for (; *p >= '0' && *p <= '9'; ++p) {
        out->magnitude = out->magnitude * 10 + static_cast<uint64_t>(*p - '0');
        if (out->magnitude > DECIMAL_TOO_LARGE) out->magnitude = DECIMAL_TOO_LARGE;
    }
    return true;
}

// "%u" semantics: a leading minus wraps modulo 2^32.
uint32_t wrap_unsigned(const decimal_t &d) {
    const uint32_t low = static_cast<uint32_t>(d.magnitude);
    return d.negative ? 0u - low : low;
}

// The unsigned getters: a little-endian number of the item's `length` bytes.
eeprom_status_t get_unsigned(const eeprom_value_t *value) {
    uint8_t buf[sizeof(uint32_t)] = {};
    const eeprom_status_t status = eeprom_read_value(value, buf);
    if (status != EEPROM_SUCCESS) return status;
    char text[12];
    snprintf(text, sizeof text, "%u", static_cast<unsigned>(get_le32(buf)));
    print_value_text(value, text);
    return EEPROM_SUCCESS;
}

// The unsigned setters: one decimal word that must fit the field (`max`),
// stored little-endian in the item's `length` bytes.
eeprom_status_t set_unsigned(const eeprom_value_t *value, int argc, char **argv,
                             uint32_t max, const char *type) {
    if (argc != 1) {
        fprintf(stderr, "\nset uint command requires an item value!\n");
        return EEPROM_ERROR_INVALID_PARAM;
    }
    decimal_t d;
    if (!parse_decimal(argv[0], &d)) {
        fprintf(stderr, "\nset %s value - %s - incorrect length!\n", type, argv[0]);
        return EEPROM_ERROR_INVALID_PARAM;
    }
    const uint32_t number = wrap_unsigned(d);
    if (d.magnitude >= DECIMAL_TOO_LARGE || number > max) {
        fprintf(stderr, "\nset %s value - %s - would overflow!\n", type, argv[0]);
        return EEPROM_ERROR_INVALID_PARAM;
    }
    uint8_t buf[sizeof(uint32_t)];
    put_le32(buf, number);
    return eeprom_write_value(value, buf, value->length);
}

}  // namespace

eeprom_status_t eeprom_get_char(const eeprom_value_t *value, int, char **) {
    EEPROM_ASSERT(value);
    std::vector<uint8_t> buf(value->length);
    const eeprom_status_t status = eeprom_read_value(value, buf.data());
    if (status != EEPROM_SUCCESS) return status;
    print_value(value, buf.data(), 1);
    return EEPROM_SUCCESS;
}

eeprom_status_t eeprom_set_char(const eeprom_value_t *value, int argc, char **argv) {
    EEPROM_ASSERT(value);
    EEPROM_ASSERT(argv);
    if (argc != 1) {
        fprintf(stderr, "\nset char command requires an item value!\n");
        return EEPROM_ERROR_INVALID_PARAM;
    }
    if (strlen(argv[0]) != value->length) {
        fprintf(stderr, "\nset %s = %s requires 1 character!\n", value->name, argv[0]);
        return EEPROM_ERROR_INVALID_PARAM;
    }
    return eeprom_write_value(value, reinterpret_cast<const uint8_t *>(argv[0]),
                              static_cast<uint16_t>(argc));
}

eeprom_status_t eeprom_get_string(const eeprom_value_t *value, int, char **) {
    EEPROM_ASSERT(value);
    std::vector<uint8_t> buf(value->length);
    const eeprom_status_t status = eeprom_read_value(value, buf.data());
    if (status != EEPROM_SUCCESS) return status;
    // A field without a terminator prints whole, and nothing beyond it.
    const void *end = memchr(buf.data(), 0, buf.size());
    const size_t length = end ? static_cast<const uint8_t *>(end) - buf.data() : buf.size();
    print_value(value, buf.data(), length);
    return EEPROM_SUCCESS;
}

eeprom_status_t eeprom_set_string(const eeprom_value_t *value, int argc, char **argv) {
    EEPROM_ASSERT(value);
    EEPROM_ASSERT(argv);
    if (argc != 1) {
        fprintf(stderr, "\nset string command requires an item value!\n");
        return EEPROM_ERROR_INVALID_PARAM;
    }
    const size_t length = strlen(argv[0]);
    if (length + 1 > value->length) {
        fprintf(stderr, "\nset %s = %s requires string to be less than %d bytes!\n",
                value->name, argv[0], value->length);
        return EEPROM_ERROR_INVALID_PARAM;
    }
    // Zero-filled, so a shorter string leaves nothing of an older one.
    std::vector<uint8_t> buf(value->length, 0);
    memcpy(buf.data(), argv[0], length);
    return eeprom_write_value(value, buf.data(), value->length);
}

eeprom_status_t eeprom_get_mac_address(const eeprom_value_t *value, int, char **) {
    EEPROM_ASSERT(value);
    EEPROM_ASSERT(value->length == EEPROM_MAC_ADDR_LEN);
    uint8_t mac[EEPROM_MAC_ADDR_LEN];
    const eeprom_status_t status = eeprom_read_value(value, mac);
    if (status != EEPROM_SUCCESS) return status;
    char text[18];
    snprintf(text, sizeof text, "%02X:%02X:%02X:%02X:%02X:%02X", mac[0], mac[1],
             mac[2], mac[3], mac[4], mac[5]);
    print_value_text(value, text);
    return EEPROM_SUCCESS;
}

eeprom_status_t eeprom_set_mac_address(const eeprom_value_t *value, int argc, char **argv) {
    EEPROM_ASSERT(value);
    EEPROM_ASSERT(argv);
    EEPROM_ASSERT(value->length == EEPROM_MAC_ADDR_LEN);
    if (argc != 1) {
        fprintf(stderr, "\nset mac address command requires an item value!\n");
        return EEPROM_ERROR_INVALID_PARAM;
    }
    unsigned int pair[EEPROM_MAC_ADDR_LEN];
    if (sscanf(argv[0], "%2x:%2x:%2x:%2x:%2x:%2x%*c", &pair[0], &pair[1], &pair[2],
               &pair[3], &pair[4], &pair[5]) != EEPROM_MAC_ADDR_LEN) {
        fprintf(stderr, "\nset mac address - %s - incorrect length!\n", argv[0]);
        return EEPROM_ERROR_INVALID_PARAM;
    }
    uint8_t mac[EEPROM_MAC_ADDR_LEN];
    for (uint32_t i = 0; i < EEPROM_MAC_ADDR_LEN; ++i) {
        // The conversion takes a sign: "-1" becomes a number above 255.
        if (pair[i] > 0xFF) {
            fprintf(stderr, "\nset mac address - %s - entry out of range!\n", argv[0]);
            return EEPROM_ERROR_INVALID_PARAM;
        }
        mac[i] = static_cast<uint8_t>(pair[i]);
    }
    return eeprom_write_value(value, mac, EEPROM_MAC_ADDR_LEN);
}

eeprom_status_t eeprom_get_uint16(const eeprom_value_t *value, int, char **) {
    EEPROM_ASSERT(value);
    EEPROM_ASSERT(value->length == sizeof(uint16_t));
    return get_unsigned(value);
}

eeprom_status_t eeprom_set_uint16(const eeprom_value_t *value, int argc, char **argv) {
    EEPROM_ASSERT(value);
    EEPROM_ASSERT(argv);
    EEPROM_ASSERT(value->length == sizeof(uint16_t));
    return set_unsigned(value, argc, argv, 0xFFFF, "uint16_t");
}

eeprom_status_t eeprom_get_uint32(const eeprom_value_t *value, int, char **) {
    EEPROM_ASSERT(value);
    EEPROM_ASSERT(value->length == sizeof(uint32_t));
    return get_unsigned(value);
}

eeprom_status_t eeprom_set_uint32(const eeprom_value_t *value, int argc, char **argv) {
    EEPROM_ASSERT(value);
    EEPROM_ASSERT(argv);
    EEPROM_ASSERT(value->length == sizeof(uint32_t));
    return set_unsigned(value, argc, argv, 0xFFFFFFFF, "uint32_t");
}

eeprom_status_t eeprom_get_ipd_xyz(const eeprom_value_t *value, int, char **) {
    EEPROM_ASSERT(value);
    EEPROM_ASSERT(value->length == sizeof(ipd_position_t));
    uint8_t buf[sizeof(ipd_position_t)];
    const eeprom_status_t status = eeprom_read_value(value, buf);
    if (status != EEPROM_SUCCESS) return status;
    char text[24];
    snprintf(text, sizeof text, "%d, %d, %d", static_cast<int16_t>(get_le16(buf + 0)),
             static_cast<int16_t>(get_le16(buf + 2)), static_cast<int16_t>(get_le16(buf + 4)));
    print_value_text(value, text);
    return EEPROM_SUCCESS;
}

eeprom_status_t parse_ipd_axis(const char *text, const char *axis, int16_t *dst) {
    EEPROM_ASSERT(text);
    EEPROM_ASSERT(axis);
    EEPROM_ASSERT(dst);
    decimal_t d;
    if (!parse_decimal(text, &d)) {
        fprintf(stderr, "\nset IPD %s value - %s - incorrect length!\n", axis, text);
        return EEPROM_ERROR_INVALID_PARAM;
    }
    // The typed number itself must be in range; nothing wraps into it.
    const bool fits = d.negative ? d.magnitude <= 32768 : d.magnitude <= 32767;
    if (!fits) {
        fprintf(stderr, "\nset IPD %s value - %s - would overflow!\n", axis, text);
        return EEPROM_ERROR_INVALID_PARAM;
    }
    const int32_t number = d.negative ? -static_cast<int32_t>(d.magnitude)
                                      : static_cast<int32_t>(d.magnitude);
    *dst = static_cast<int16_t>(number);
    return EEPROM_SUCCESS;
}

eeprom_status_t eeprom_set_ipd_xyz(const eeprom_value_t *value, int argc, char **argv) {
    EEPROM_ASSERT(value);
    EEPROM_ASSERT(argv);
    EEPROM_ASSERT(value->length == sizeof(ipd_position_t));
    if (argc != 3) {
        fprintf(stderr, "\nset IPD XYZ command requires three item values!\n");
        return EEPROM_ERROR_INVALID_PARAM;
    }
    int16_t axis[3];
    static const char *const letters[3] = {"X", "Y", "Z"};
    for (int i = 0; i < 3; ++i) {
        const eeprom_status_t status = parse_ipd_axis(argv[i], letters[i], &axis[i]);
        if (status != EEPROM_SUCCESS) return status;
    }
    uint8_t buf[sizeof(ipd_position_t)];
    for (int i = 0; i < 3; ++i) put_le16(buf + 2 * i, static_cast<uint16_t>(axis[i]));
    return eeprom_write_value(value, buf, sizeof buf);
}

// ---------------------------------------------------------------------------
// Binary blob codec: a 16-bit little-endian data length, the data, zeros.

eeprom_status_t eeprom_get_binary(const eeprom_value_t *value, int argc, char **argv) {
    EEPROM_ASSERT(value);
    std::vector<uint8_t> field(value->length);
    const eeprom_status_t status = eeprom_read_value(value, field.data());
    if (argc <= 0 && status == EEPROM_SUCCESS) {
        fprintf(stderr, "%s set, specify filename to save\n", value->name);
        return EEPROM_ERROR_INVALID_PARAM;
    }
    if (status != EEPROM_SUCCESS) return status;

    const uint16_t length = get_le16(field.data());
    if (length > value->length - 2) {
        fprintf(stderr, "%s appear valid, but has illegal length: %d!\n", value->name, length);
        return EEPROM_ERROR_INVALID_DATA;
    }
    const char *filename = argv[0];
    FILE *file = fopen(filename, "wb");
    if (!file) {
        fprintf(stderr, "\nFailed to create file %s for writing on error: %d\n", filename, errno);
        return EEPROM_ERROR_INVALID_PARAM;
    }
    fprintf(stderr, "%s: ", value->name);
    fflush(stderr);
    // The data is only saved once the file has taken all of it: a full disk
    // shows up at the flush or the close, not at the buffered write.
    bool saved = fwrite(field.data() + 2, 1, length, file) == length;
    saved = fflush(file) == 0 && saved;
    saved = fclose(file) == 0 && saved;
    if (!saved) {
        fprintf(stderr, "Write Failed!\n");
        return EEPROM_ERROR_WRITE;
    }
    fprintf(stderr, "%s written\n", filename);
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

eeprom_status_t eeprom_set_binary(const eeprom_value_t *value, int argc, char **argv) {
    EEPROM_ASSERT(value);
    EEPROM_ASSERT(argv);
    if (argc <= 0) {
        fprintf(stderr, "\nMust specify a file to load data from\n");
        return EEPROM_ERROR_INVALID_PARAM;
    }
    const char *filename = argv[0];
    const int limit = value->length - 2;
    std::vector<uint8_t> field(value->length, 0);

    const int fd = open(filename, O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        fprintf(stderr, "\nFailed to open file %s for reading on error: %d\n", filename, errno);
        return EEPROM_ERROR_INVALID_PARAM;
    }
    struct stat st;
    if (fstat(fd, &st) != 0) {
        close(fd);
        fprintf(stderr, "\nFailed to stat file %s on error: %d\n", filename, errno);
        return EEPROM_ERROR_INVALID_PARAM;
    }
    // Only a regular file has a size worth checking up front; pipes and
    // devices are read to their end below.
    if (S_ISREG(st.st_mode) && st.st_size > limit) {
        close(fd);
        fprintf(stderr, "\nFile Size too large %ld > %d\n", static_cast<long>(st.st_size), limit);
        return EEPROM_ERROR_INVALID_PARAM;
    }
    size_t got = 0;
    const load_result result = read_to_end(fd, field.data() + 2, limit, &got);
    close(fd);
    if (result == load_result::read_error) {
        fprintf(stderr, "\nRead Failed, errno: %d\n", errno);
        return EEPROM_ERROR_READ;
    }
    if (result == load_result::too_large) {
        fprintf(stderr, "\nFile Size too large %ld > %d\n", static_cast<long>(limit) + 1, limit);
        return EEPROM_ERROR_INVALID_PARAM;
    }
    put_le16(field.data(), static_cast<uint16_t>(got));
    return eeprom_write_value(value, field.data(), value->length);
}
