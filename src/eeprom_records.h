// The records every part of vellum shares: status codes, the descriptors of
// regions, items, layouts and value kinds, and the region header.
#pragma once

#include <cstddef>
#include <cstdint>

// Programming errors (a missing record or word list, an item whose length
// does not suit its codec, a table larger than the buffers made for it) stop
// the process in every build type. The report names the store's source
// file, the line and the function.
#define EEPROM_ASSERT(cond) \
    ((cond) ? (void)0 : eeprom_assert_fail(#cond, __LINE__, __func__))

[[noreturn]] void eeprom_assert_fail(const char *cond, int line, const char *func);

// Status returned by every store, codec and command operation; becomes the
// process exit status. Device lookup may also return a negated errno.
typedef int32_t eeprom_status_t;

enum : eeprom_status_t {
    EEPROM_SUCCESS = 0,
    EEPROM_ERROR_NULL_POINTER = 1,  // never returned: missing records assert
    EEPROM_ERROR_READ = 2,
    EEPROM_ERROR_WRITE = 3,
    EEPROM_ERROR_OPEN = 4,
    EEPROM_ERROR_INVALID_DATA = 5,
    EEPROM_ERROR_NO_INIT = 6,
    EEPROM_ERROR_INVALID_PARAM = 7,
    EEPROM_ERROR_LOCKED = 8,  // never returned: a locked region yields 5
    // 9 has no name and is never returned
    EEPROM_ERROR_UNSUPPORTED_VERSION = 10,
    EEPROM_ERROR_NOT_FOUND = 11,
};

// The program name printed in usage lines, hints and the reset advice.
#define EEPROM_PROGRAM_NAME "vellum"

// Where the kernel lists the I2C devices.
#define EEPROM_SYSFS_BASE "/sys/bus/i2c/devices"

enum : uint8_t {
    EEPROM_UNLOCKED = 0xFF,     // the only lock byte that allows item writes
    EEPROM_LOCKED = 0x00,       // lock byte written by locking
    EEPROM_VALUE_VALID = 0xA5,  // valid marker of an item that has been set
};

enum : uint32_t {
    EEPROM_HEADER_SIZE = 9,      // magic, version, lock
    EEPROM_CHECKSUM_SIZE = 2,    // Fletcher-16 in the last two bytes
    EEPROM_MAC_ADDR_LEN = 6,
    EEPROM_VALUE_MAX_LEN = 4096,  // no item is longer (the largest blob: 3067)
    EEPROM_IMAGE_MAX_LEN = 8192,  // no region is larger (vrcal: 6656)
};

// No fitted hardware has more regions in all (the second-generation core's
// three and a strap), no board's table more items (the second-generation
// core: 23).
constexpr int EEPROM_MAX_REGIONS = 4;
constexpr int EEPROM_MAX_ITEMS = 32;

// One layout version of a region and the total size of its image.
// A table ends with an entry whose version is negative ({-1, -1}).
struct eeprom_layout_t {
    int32_t version;
    int32_t size;
};

struct eeprom_session;

// One region of an EEPROM device. The catalogue holds a template of each,
// with no buffers; a session works on copies of its own, of which only path,
// fd, size, the contents of data and chip, chip_known, loaded, locked and
// write_errno change at run time.
struct eeprom_t {
    char name[16];
    char sysfs_name[16];  // device-tree label of the chip holding the region
    char path[512];       // ".../eeprom" once looked up; empty before
    int32_t fd;           // -1 while not open
    uint32_t latest_version;
    const eeprom_layout_t *layouts;
    int32_t size;    // size of the layout in force
    int32_t offset;  // byte offset of the region within the device file
    uint8_t *data;   // image buffer, as large as the largest layout
    uint32_t magic;
    // What the process knows of the chip: its bytes from the region's start
    // (as large as data), valid for the first chip_known of them. The region
    // stays locked while the process runs, so nobody else changes them.
    uint8_t *chip;
    int32_t chip_known;
    bool loaded;  // data holds the valid image the chip holds: loads need not read
    bool locked;  // the region's bytes are locked against every other vellum
    eeprom_session *session;  // whose region this is
    int32_t write_errno;      // the chip is open read-only: why a store is refused
};

struct eeprom_value_t;

// An item's get or set operation: the words after the item name.
typedef eeprom_status_t (*eeprom_value_op_t)(const eeprom_value_t *value,
                                             int argc, char **argv);

// Turns the value words of a `set` into the item's `length` bytes at `dst`,
// checking them as the set does, without touching the device.
typedef eeprom_status_t (*eeprom_value_parse_t)(const eeprom_value_t *value, int argc,
                                                char **argv, uint8_t *dst);

// How a kind's value appears in JSON: its text quoted (up to its first zero
// byte, escaped), as a bare number, or as a list of numbers.
enum eeprom_json_form_t { EEPROM_JSON_TEXT, EEPROM_JSON_NUMBER, EEPROM_JSON_LIST };

// Everything that differs between the kinds of value an item can hold.
struct eeprom_kind_t {
    char name[16];  // "string", "char", "mac_address", "uint16", ...
    eeprom_value_op_t get;
    eeprom_value_op_t set;
    eeprom_value_parse_t parse;  // the set's checks and conversion alone
    // The stored field as text, as get prints it (a blob: its data in
    // base64), into `out` with a terminator; the length of the text, or -1
    // when the stored bytes cannot be shown (a blob of impossible length).
    int32_t (*format)(const eeprom_value_t *value, const uint8_t *field, char *out,
                      size_t size);
    eeprom_json_form_t json;  // the text of format, for export
};

// One item stored at a fixed position of a region image. Rows are made with
// EEPROM_ITEM (catalogue.h), which takes get and set from the kind and puts
// the valid marker right behind the value.
struct eeprom_value_t {
    char name[32];
    eeprom_t *eeprom;
    uint16_t offset;
    uint16_t length;
    uint16_t valid_offset;  // always offset + length
    uint32_t min_version;   // first layout version that contains the item
    eeprom_value_op_t get;
    eeprom_value_op_t set;
    const eeprom_kind_t *kind;
};

// The first nine bytes of every region image, little-endian on the device.
#pragma pack(push, 1)
struct eeprom_header_t {
    uint32_t magic;
    uint32_t version;
    uint8_t lock;
};
#pragma pack(pop)
static_assert(sizeof(eeprom_header_t) == EEPROM_HEADER_SIZE);

// An interpupillary-distance position: three little-endian int16.
#pragma pack(push, 1)
struct ipd_position_t {
    int16_t x;
    int16_t y;
    int16_t z;
};
#pragma pack(pop)
static_assert(sizeof(ipd_position_t) == 6);
