// Records, status codes and operations shared by every part of vellum:
// device lookup in sysfs, region image load/store, item access, region
// maintenance and the value codecs that every catalogue item carries.
#pragma once

#include <cstddef>
#include <cstdint>

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

// One layout version of a region and the total size of its image.
// A table ends with an entry whose version is negative ({-1, -1}).
struct eeprom_layout_t {
    int32_t version;
    int32_t size;
};

// One region of an EEPROM device. Only path, fd, size and the contents of
// data change at run time.
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
};

struct eeprom_value_t;

// An item's get or set operation: the words after the item name.
typedef eeprom_status_t (*eeprom_value_op_t)(const eeprom_value_t *value,
                                             int argc, char **argv);

// Turns the value words of a `set` into the item's `length` bytes at `dst`,
// checking them as the set does, without touching the device.
typedef eeprom_status_t (*eeprom_value_parse_t)(const eeprom_value_t *value, int argc,
                                                char **argv, uint8_t *dst);

// One item stored at a fixed position of a region image.
struct eeprom_value_t {
    char name[32];
    eeprom_t *eeprom;
    uint16_t offset;
    uint16_t length;
    uint16_t valid_offset;  // always offset + length
    uint32_t min_version;   // first layout version that contains the item
    eeprom_value_op_t get;
    eeprom_value_op_t set;
    eeprom_value_parse_t parse;  // the set's checks and conversion alone
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

// Device lookup and opening.
int eeprom_find(const char *sysfs_name, eeprom_t *eeprom);
eeprom_status_t eeprom_open(eeprom_t *eeprom);

// Region image format, load and store.
int32_t eeprom_layout_size(const eeprom_layout_t *layouts, uint32_t version);
uint16_t eeprom_checksum(const uint8_t *data, uint32_t length);
eeprom_status_t eeprom_read(eeprom_t *eeprom);
eeprom_status_t eeprom_write(eeprom_t *eeprom);
// eeprom_open, then eeprom_read: the first non-zero status, or 0.
eeprom_status_t eeprom_load(eeprom_t *eeprom);

// Item access.
eeprom_status_t eeprom_read_value(const eeprom_value_t *value, uint8_t *dst);
eeprom_status_t eeprom_write_value(const eeprom_value_t *value,
                                   const uint8_t *src, uint16_t count);

// The image a load left in a region's buffer, looked at without touching
// the device or printing anything.
enum eeprom_item_state_t {
    EEPROM_ITEM_ABSENT,   // the stored layout does not contain the item
    EEPROM_ITEM_NOT_SET,  // contained, valid marker not set
    EEPROM_ITEM_SET,
};
uint32_t eeprom_image_version(const eeprom_t *eeprom);
bool eeprom_image_locked(const eeprom_t *eeprom);
eeprom_item_state_t eeprom_item_state(const eeprom_value_t *value);
// The checks of an item write on the loaded image (lock, then version), with
// their messages; and the write itself, into the buffer only.
eeprom_status_t eeprom_check_writable(const eeprom_value_t *value);
void eeprom_put_value(const eeprom_value_t *value, const uint8_t *src);

// Region maintenance.
eeprom_status_t eeprom_reset(eeprom_t *eeprom);
eeprom_status_t eeprom_lock(eeprom_t *eeprom);
eeprom_status_t eeprom_unlock(eeprom_t *eeprom);
eeprom_status_t eeprom_upgrade(eeprom_t *eeprom, const eeprom_value_t *values);

// Whole images for backup and restore. eeprom_read_stored loads a region's
// bytes without validating them: the stored layout's size when the header is
// this region's, else the buffer's capacity. eeprom_restore opens the device
// and stores the valid image of `size` bytes that the caller put in the
// buffer.
int32_t eeprom_capacity(const eeprom_t *eeprom);
eeprom_status_t eeprom_read_stored(eeprom_t *eeprom);
bool eeprom_valid_image(const eeprom_t *eeprom, int32_t size);
eeprom_status_t eeprom_restore(eeprom_t *eeprom, int32_t size);

// Value codecs: the get/set pair of each item kind.
eeprom_status_t eeprom_get_char(const eeprom_value_t *value, int argc, char **argv);
eeprom_status_t eeprom_set_char(const eeprom_value_t *value, int argc, char **argv);
eeprom_status_t eeprom_get_string(const eeprom_value_t *value, int argc, char **argv);
eeprom_status_t eeprom_set_string(const eeprom_value_t *value, int argc, char **argv);
eeprom_status_t eeprom_get_mac_address(const eeprom_value_t *value, int argc, char **argv);
eeprom_status_t eeprom_set_mac_address(const eeprom_value_t *value, int argc, char **argv);
eeprom_status_t eeprom_get_uint16(const eeprom_value_t *value, int argc, char **argv);
eeprom_status_t eeprom_set_uint16(const eeprom_value_t *value, int argc, char **argv);
eeprom_status_t eeprom_get_uint32(const eeprom_value_t *value, int argc, char **argv);
eeprom_status_t eeprom_set_uint32(const eeprom_value_t *value, int argc, char **argv);
eeprom_status_t eeprom_get_ipd_xyz(const eeprom_value_t *value, int argc, char **argv);
eeprom_status_t eeprom_set_ipd_xyz(const eeprom_value_t *value, int argc, char **argv);
eeprom_status_t eeprom_get_binary(const eeprom_value_t *value, int argc, char **argv);
eeprom_status_t eeprom_set_binary(const eeprom_value_t *value, int argc, char **argv);

// The conversion step of each setter: words (or a blob's file) to bytes.
eeprom_status_t eeprom_parse_char(const eeprom_value_t *value, int argc, char **argv, uint8_t *dst);
eeprom_status_t eeprom_parse_string(const eeprom_value_t *value, int argc, char **argv, uint8_t *dst);
eeprom_status_t eeprom_parse_mac_address(const eeprom_value_t *value, int argc, char **argv, uint8_t *dst);
eeprom_status_t eeprom_parse_uint16(const eeprom_value_t *value, int argc, char **argv, uint8_t *dst);
eeprom_status_t eeprom_parse_uint32(const eeprom_value_t *value, int argc, char **argv, uint8_t *dst);
eeprom_status_t eeprom_parse_ipd_xyz(const eeprom_value_t *value, int argc, char **argv, uint8_t *dst);
eeprom_status_t eeprom_parse_binary(const eeprom_value_t *value, int argc, char **argv, uint8_t *dst);

// Text printed on standard error before the complaint of a conversion step
// that refuses a value, if one does (nullptr: nothing). Lets a caller that
// checks many values name the one refused.
void eeprom_refusal_heading(const char *heading);

// Converts one IPD coordinate ("X", "Y" or "Z") for eeprom_set_ipd_xyz.
eeprom_status_t parse_ipd_axis(const char *text, const char *axis, int16_t *dst);

// Files named by the user.
#include "eeprom_files.h"
