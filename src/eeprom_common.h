// The chief header of vellum's store and codecs: the shared records and the
// interface of every unit.
//   eeprom_records.h  status codes, regions, items, layouts, value kinds
//   eeprom_lookup.h   which chip carries a label, which generation is fitted,
//                     which item or region a name means
//   eeprom_image.h    a region's image on its chip: open and lock, load,
//                     store and verify
//   eeprom_items.h    one item of a loaded image: read, write, its state
//   eeprom_regions.h  a region as a whole: reset, lock, unlock, upgrade,
//                     raw images for backup and restore
//   eeprom_files.h    files named by the user
//   eeprom_codecs.h   the value kinds: words to bytes and bytes to text
//   eeprom_apply.h    provisioning files: every line checked, each region
//                     stored once
//   eeprom_chips.h    files that stand for chips
//   eeprom_session.h  what one user of the store owns: the fitted tables,
//                     open chips, lookup memory, where diagnostics go
#pragma once

#include "eeprom_records.h"

#include "eeprom_apply.h"
#include "eeprom_chips.h"
#include "eeprom_codecs.h"
#include "eeprom_files.h"
#include "eeprom_image.h"
#include "eeprom_items.h"
#include "eeprom_lookup.h"
#include "eeprom_regions.h"
#include "eeprom_session.h"
