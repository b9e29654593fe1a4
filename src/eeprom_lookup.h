// Finding things by name: the chip that carries a device-tree label among
// the I2C devices, and the one rule by which names are matched.
#pragma once

#include <cstddef>

#include "eeprom_records.h"

// What a session remembers of the I2C devices it listed. The headset has two
// EEPROMs and a board a handful of devices at 0x50 and 0x51; a device
// directory has about a dozen entries. Whatever does not fit is simply not
// remembered and is listed again when asked about.
constexpr size_t EEPROM_MEMO_DEVICES = 8;
constexpr size_t EEPROM_MEMO_CHILDREN = 32;
// Labels are compared as a prefix of the child's name, so the first
// characters of each name are all a label (of at most 15) needs.
constexpr size_t EEPROM_MEMO_LABEL = sizeof(eeprom_t::sysfs_name);

struct eeprom_listed_device {
    char name[32];  // the entry in the base directory, "1-0050"
    char children[EEPROM_MEMO_CHILDREN][EEPROM_MEMO_LABEL];
    size_t child_count;
    bool complete;  // every child was read and fitted
};

// The accepted devices of the latest successful listing, in listing order.
// A device is there only if every accepted device listed before it is there
// too, listed in full: the first match in memory is the first on the bus.
struct eeprom_lookup_memo {
    eeprom_listed_device devices[EEPROM_MEMO_DEVICES];
    size_t count;
    bool full;  // a device did not fit: record no further ones
};

// 1 when a device carrying the label was found (its eeprom file's path put
// into `eeprom`, if given), 0 when none was, or the negated errno of a
// directory that cannot be listed (reported to the session). The session is
// the region's, or `session` for a bare probe; without one nothing is
// remembered or reported.
int eeprom_find(const char *sysfs_name, eeprom_t *eeprom, eeprom_session *session = nullptr);

// `text` names `name` when it begins it, or, `exact`, when it is all of it.
bool eeprom_name_matches(const char *name, const char *text, bool exact);
