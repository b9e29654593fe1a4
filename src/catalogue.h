// The compiled-in tables of regions and items of each hardware generation.
// Which set is fitted is decided by a session's generation probe.
#pragma once

#include "eeprom_common.h"

// An item row: its kind gives the get and set operations, and the valid
// marker follows the value directly. `region` is the region's template.
#define EEPROM_ITEM(name, region, offset, length, min_version, kind)                         \
    {                                                                                          \
        name, region, offset, length, (offset) + (length), min_version, (kind).get, (kind).set, \
            &(kind)                                                                            \
    }

// The four table sets, whatever is fitted: templates, read-only. A session
// copies the set it finds fitted (eeprom_session.h). Item tables end with an
// entry whose name is empty, region lists with a null reference.
extern const eeprom_value_t core_gen1_values[];
extern eeprom_t *const core_gen1_eeproms[];
extern const eeprom_value_t core_gen2_values[];
extern eeprom_t *const core_gen2_eeproms[];
extern const eeprom_value_t strap_gen1_values[];
extern eeprom_t *const strap_gen1_eeproms[];
extern const eeprom_value_t strap_gen2_values[];
extern eeprom_t *const strap_gen2_eeproms[];
