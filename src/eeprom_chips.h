// Chip files: regular files that stand for the headset's chips, one per
// device-tree label, on a workstation with no headset at hand (a chip saved
// from a returned unit, images built ahead for a station). A file is read
// and written as the chip is: the same offsets, locks, store order and
// read-back. When any is given, sysfs is not looked at; a board with no
// file given is one whose chip is not found.
#pragma once

#include <cstddef>

#include "eeprom_records.h"

// Takes `file` as the chip carrying `label`, before the session has looked
// anything up. 0, or the refusal's status with its reason in `why`: 7 for a
// label not in the tables, a second label for one board, one label twice or
// one file for two labels; 4 for a file that is missing or not a regular
// file, or smaller than the regions its label's tables place on it.
eeprom_status_t eeprom_chip_file(eeprom_session *s, const char *label, const char *file,
                                 char *why, size_t size);

// The file standing for the chip carrying `label`, or nullptr.
const char *eeprom_chip_file_for(const eeprom_session *s, const char *label);
