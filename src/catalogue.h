// The compiled-in tables of regions and items of each hardware generation:
// the facts of the hardware, read-only. A session builds the region and
// item records of the set it finds fitted from them (eeprom_session.h).
#pragma once

#include "eeprom_records.h"

// The kinds an item row names; a session takes the item's get and set from
// the kind's record (eeprom_kind_of), so a row cannot pair the operations of
// two kinds.
enum class eeprom_kind_id : uint8_t {
    character, string, mac_address, uint16, uint32, ipd_xyz, binary
};
const eeprom_kind_t *eeprom_kind_of(eeprom_kind_id id);

// A region: what every session's copy of it starts from.
struct eeprom_region_row {
    char name[16];
    char sysfs_name[16];
    uint32_t latest_version;
    const eeprom_layout_t *layouts;
    int32_t offset;
    uint32_t magic;
};

// An item: its region by place in the set's region list; the valid marker
// follows the value (valid_offset is offset + length).
struct eeprom_item_row {
    char name[32];
    uint8_t region;
    uint16_t offset;
    uint16_t length;
    uint32_t min_version;
    eeprom_kind_id kind;
};

struct eeprom_table_set {
    const eeprom_region_row *regions;
    int region_count;
    const eeprom_item_row *items;
    int item_count;
};

// The four table sets, whatever is fitted.
extern const eeprom_table_set core_gen1, core_gen2, strap_gen1, strap_gen2;
