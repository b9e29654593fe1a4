// A region's image on its chip: the format, opening and locking the chip,
// loading and validating the image, storing it back and verifying it.
//
// On the chip an image is a 9-byte header (magic, version, lock), items at
// fixed offsets each followed by a one-byte valid marker, and a Fletcher-16
// checksum in the last two bytes of the size of the stored layout version.
// All numbers are little-endian.
#pragma once

#include <sys/stat.h>

#include "eeprom_records.h"

// Makes sure the region's chip is open and its bytes locked against every
// other vellum: 0, 11 when the label is not in sysfs, 4 when the file cannot
// be opened or stays locked elsewhere for 10 s, or the negated errno of the
// lookup.
eeprom_status_t eeprom_open(eeprom_t *eeprom);
// Whether the file is one that the session has open as a region's chip.
bool eeprom_is_open_chip(const eeprom_session *s, const struct stat &file);

int32_t eeprom_layout_size(const eeprom_layout_t *layouts, uint32_t version);
uint16_t eeprom_checksum(const uint8_t *data, uint32_t length);

// Loads and validates the image of the open region: 0, 2, 5, 6 or 10.
// eeprom_read always reads the chip; eeprom_load only when the buffer does
// not hold the image already.
eeprom_status_t eeprom_read(eeprom_t *eeprom);
// eeprom_open, then eeprom_read: the first non-zero status, or 0.
eeprom_status_t eeprom_load(eeprom_t *eeprom);

// What the process has seen of the chip: `count` bytes at `at` of the region
// read from it or verified there (eeprom_saw); nothing (eeprom_forget, for
// a chip changed behind the process's back); the region's first `count`
// bytes read raw when not known yet, silently left unknown when that fails
// (eeprom_read_raw, before a store that loads nothing).
void eeprom_saw(eeprom_t *eeprom, const uint8_t *bytes, int32_t at, int32_t count);
void eeprom_forget(eeprom_t *eeprom);
void eeprom_read_raw(eeprom_t *eeprom, int32_t count);

// Stores the `size` bytes of the buffer with a fresh checksum, writing only
// what differs from the chip, and reads back what it wrote: 0 or 3. eeprom_write_over does the same over a stored image of
// `stored_size` bytes of this region, known from its header (-1: none).
eeprom_status_t eeprom_write(eeprom_t *eeprom);
// A store on a chip open read-only: refused as the read-write open was, 4.
eeprom_status_t eeprom_refuse_store(const eeprom_t *eeprom);
eeprom_status_t eeprom_write_over(eeprom_t *eeprom, int32_t stored_size);
