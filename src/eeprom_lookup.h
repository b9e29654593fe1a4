// Finding things: the chip that carries a device-tree label among the I2C
// devices, the hardware generation of each board (probed once), and the item
// or region a name means in the tables of the fitted generation.
#pragma once

#include "eeprom_records.h"

// 1 when a device carrying the label was found (its eeprom file's path put
// into `eeprom`, if given), 0 when none was, or the negated errno of a
// directory that cannot be listed.
int eeprom_find(const char *sysfs_name, eeprom_t *eeprom);

// Item table (ended by an entry with an empty name) and region list (ended
// by a null reference) of the fitted generation. The first call of a family
// probes sysfs for the second-generation label and fixes the choice.
const eeprom_value_t *core_values();
eeprom_t *const *core_eeproms();
const eeprom_value_t *strap_values();
eeprom_t *const *strap_eeproms();

// The one rule by which names are matched: `text` names `name` when it
// begins it, or, `exact`, when it is all of it.
bool eeprom_name_matches(const char *name, const char *text, bool exact);

// The first item that `text` names, in the core table and, only when no core
// item matches, in the strap table (whose generation is then probed).
const eeprom_value_t *eeprom_find_item(const char *text, bool exact);
// The first region that `text` names, core list first; the strap list is
// fetched even after a core match, so every region command settles the
// strap generation too. `family` gets the item table of the region's board.
eeprom_t *eeprom_find_region(const char *text, const eeprom_value_t **family);
