// A region as a whole: a fresh image (reset), the lock byte (lock, unlock),
// the newest layout (upgrade), and raw images for backup and restore.
#pragma once

#include "eeprom_records.h"

eeprom_status_t eeprom_reset(eeprom_t *eeprom);
eeprom_status_t eeprom_lock(eeprom_t *eeprom);
eeprom_status_t eeprom_unlock(eeprom_t *eeprom);
// `values`: the item table of the region's family.
eeprom_status_t eeprom_upgrade(eeprom_t *eeprom, const eeprom_value_t *values);

// Whole images for backup and restore. eeprom_read_stored loads a region's
// bytes into its buffer without validating them: the stored layout's size
// when the header is this region's, else the buffer's capacity.
// eeprom_valid_image says whether `size` bytes are an image a load of the
// region accepts; eeprom_restore opens the device and stores such an image.
int32_t eeprom_capacity(const eeprom_t *eeprom);
eeprom_status_t eeprom_read_stored(eeprom_t *eeprom);
bool eeprom_valid_image(const eeprom_t *eeprom, const uint8_t *image, int32_t size);
eeprom_status_t eeprom_restore(eeprom_t *eeprom, const uint8_t *image, int32_t size);
