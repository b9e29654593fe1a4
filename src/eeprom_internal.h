// Helpers shared by the units of the store and the codecs; not part of the
// interface that the front end sees.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <initializer_list>

#include "eeprom_records.h"

// Joins texts into `dst`, cut to fit `size` and always terminated, as
// snprintf with "%s%s..." would. The paths and messages of an ordinary `get`
// and `set` are built with it rather than with the formatted-output
// functions, whose code is large: a call that never reaches them maps
// noticeably less of the C library.
size_t eeprom_join(char *dst, size_t size, std::initializer_list<const char *> parts);

// A conversion step's complaint, to the session's diagnostics after the
// heading set with eeprom_refusal_heading, if any.
void eeprom_refuse(const eeprom_session *s, const char *format, ...)
    __attribute__((format(printf, 2, 3)));

// Every transfer between a region and its device: reads or writes `count`
// bytes at `offset` of the device file. The sysfs attribute hands over at
// most one page per call, so a run longer than a page arrives in two
// pieces: a short transfer is completed by exactly one further call for the
// rest, and a device that needs more than that is faulty. The header is read
// with a single call (`complete` false). A call interrupted by a signal
// (EINTR) moved nothing and is made again, as the same call. Returns the
// bytes moved in total (a failed second call counts -1), or a negative value
// when the first call failed.
enum class eeprom_xfer { read, write };
ssize_t eeprom_transfer(eeprom_xfer op, int fd, uint8_t *buf, size_t count, off_t offset,
                        bool complete = true);

// The region's buffer is as large as its largest layout.
int32_t eeprom_buffer_capacity(const eeprom_layout_t *layouts);

// Every multi-byte number in a region image is little-endian.
inline uint16_t get_le16(const uint8_t *p) {
    return static_cast<uint16_t>(p[0] | p[1] << 8);
}

inline uint32_t get_le32(const uint8_t *p) {
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
           static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

inline void put_le16(uint8_t *p, uint16_t v) {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
}

inline void put_le32(uint8_t *p, uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}
