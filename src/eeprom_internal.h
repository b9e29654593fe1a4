// Helpers shared by the store and the value codecs; not part of the
// interface that the front end and the catalogue see.
#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>

#include <sys/stat.h>

#include "eeprom_common.h"

// Programming errors (a missing record or word list, an item whose length
// does not suit its codec) stop the process in every build type. The report
// names the store's source file, the line and the function.
#define EEPROM_ASSERT(cond) \
    ((cond) ? (void)0 : eeprom_assert_fail(#cond, __LINE__, __func__))

[[noreturn]] void eeprom_assert_fail(const char *cond, int line, const char *func);

// Joins texts into `dst`, cut to fit `size` and always terminated, as
// snprintf with "%s%s..." would. The paths and messages of an ordinary `get`
// and `set` are built with it rather than with the formatted-output
// functions, whose code is large: a call that never reaches them maps
// noticeably less of the C library.
size_t eeprom_join(char *dst, size_t size, std::initializer_list<const char *> parts);

// Writes the texts to standard error, in one piece as one fprintf to the
// unbuffered stream would whenever they fit 639 characters, and never cut.
void eeprom_report(std::initializer_list<const char *> parts);

// Prints a conversion step's complaint on standard error, after the heading
// set with eeprom_refusal_heading, if any.
void eeprom_refuse(const char *format, ...) __attribute__((format(printf, 1, 2)));

// Whether the file is one that this process has open as a region's chip.
bool eeprom_is_open_chip(const struct stat &file);

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
