// One item of a region: read and written through its region's image, with
// the rules of the format (an item exists from its layout version on, reads
// only when its valid marker says it was set, and a locked region takes no
// writes).
#pragma once

#include "eeprom_records.h"

// Load the item's region (opening it first) and copy the item out, or copy
// it in, mark it valid and store the region.
eeprom_status_t eeprom_read_value(const eeprom_value_t *value, uint8_t *dst);
eeprom_status_t eeprom_write_value(const eeprom_value_t *value,
                                   const uint8_t *src, uint16_t count);

// The image a load left in a region's buffer, looked at without touching
// the device or printing anything.
enum eeprom_item_state_t {
    EEPROM_ITEM_ABSENT,   // the stored layout does not contain the item
    EEPROM_ITEM_NOT_SET,  // contained, valid marker not set
    EEPROM_ITEM_SET,
};
uint32_t eeprom_image_version(const eeprom_t *eeprom);
bool eeprom_image_locked(const eeprom_t *eeprom);
eeprom_item_state_t eeprom_item_state(const eeprom_value_t *value);
// The same on an image of `size` bytes of the item's region held elsewhere;
// and the item's bytes copied out of it, with the read's messages and
// statuses when it is absent or not set.
eeprom_item_state_t eeprom_item_state_in(const eeprom_value_t *value, const uint8_t *image,
                                         int32_t size);
eeprom_status_t eeprom_take_value(const eeprom_value_t *value, const uint8_t *image,
                                  int32_t size, uint8_t *dst);
// The item's bytes in the loaded image.
const uint8_t *eeprom_item_field(const eeprom_value_t *value);
// The checks of an item write on the loaded image (lock, then version), with
// their messages; and the write itself, into the buffer only.
eeprom_status_t eeprom_check_writable(const eeprom_value_t *value);
void eeprom_put_value(const eeprom_value_t *value, const uint8_t *src);
