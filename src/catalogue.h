// The compiled-in tables of regions and items of each hardware generation,
// and the once-per-process choice of the generation that is fitted.
#pragma once

#include "eeprom_common.h"

// Item table (ended by an entry with an empty name) and region list (ended
// by a null reference) of the fitted generation. The first call of a family
// probes sysfs for the second-generation label and fixes the choice.
const eeprom_value_t *core_values();
eeprom_t *const *core_eeproms();
const eeprom_value_t *strap_values();
eeprom_t *const *strap_eeproms();

// The four table sets themselves, whatever is fitted.
extern const eeprom_value_t core_gen1_values[];
extern eeprom_t *const core_gen1_eeproms[];
extern const eeprom_value_t core_gen2_values[];
extern eeprom_t *const core_gen2_eeproms[];
extern const eeprom_value_t strap_gen1_values[];
extern eeprom_t *const strap_gen1_eeproms[];
extern const eeprom_value_t strap_gen2_values[];
extern eeprom_t *const strap_gen2_eeproms[];
