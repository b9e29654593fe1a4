// Item access: every access loads the item's region and validates it; a
// write changes the item's bytes and marker in the image and stores it.
#include "eeprom_items.h"
#include "eeprom_image.h"
#include "eeprom_internal.h"
#include "eeprom_session.h"

#include <cstdio>
#include <cstring>

namespace {

uint32_t image_version(const eeprom_t *e) { return get_le32(e->data + 4); }

// Opens the item's region and loads it; the item must lie inside the image.
eeprom_status_t load_item_region(const eeprom_value_t *value) {
    EEPROM_ASSERT(value->eeprom);
    return eeprom_load(value->eeprom);
}

bool item_fits_image(const eeprom_value_t *value) {
    return value->valid_offset < value->eeprom->size - EEPROM_CHECKSUM_SIZE;
}

}  // namespace

uint32_t eeprom_image_version(const eeprom_t *eeprom) {
    EEPROM_ASSERT(eeprom);
    return image_version(eeprom);
}

bool eeprom_image_locked(const eeprom_t *eeprom) {
    EEPROM_ASSERT(eeprom);
    return eeprom->data[8] != EEPROM_UNLOCKED;
}

const uint8_t *eeprom_item_field(const eeprom_value_t *value) {
    EEPROM_ASSERT(value);
    return value->eeprom->data + value->offset;
}

// The version test comes first: the marker of an item that the stored layout
// does not contain lies in bytes that mean something else, or beyond it.
eeprom_item_state_t eeprom_item_state_in(const eeprom_value_t *value, const uint8_t *image,
                                         int32_t size) {
    EEPROM_ASSERT(value);
    EEPROM_ASSERT(image);
    if (get_le32(image + 4) < value->min_version) return EEPROM_ITEM_ABSENT;
    EEPROM_ASSERT(value->valid_offset < size - static_cast<int32_t>(EEPROM_CHECKSUM_SIZE));
    return image[value->valid_offset] == EEPROM_VALUE_VALID ? EEPROM_ITEM_SET
                                                            : EEPROM_ITEM_NOT_SET;
}

eeprom_item_state_t eeprom_item_state(const eeprom_value_t *value) {
    EEPROM_ASSERT(value);
    return eeprom_item_state_in(value, value->eeprom->data, value->eeprom->size);
}

// The lock test comes before the version test.
eeprom_status_t eeprom_check_writable(const eeprom_value_t *value) {
    EEPROM_ASSERT(value);
    if (eeprom_image_locked(value->eeprom)) {
        eeprom_diag(value->eeprom->session, "cannot write %s, eeprom locked!\n", value->name);
        return EEPROM_ERROR_INVALID_DATA;
    }
    if (eeprom_item_state(value) == EEPROM_ITEM_ABSENT) {
        eeprom_diag(value->eeprom->session, "cannot write %s, eeprom version not supported!\n", value->name);
        return EEPROM_ERROR_INVALID_DATA;
    }
    return EEPROM_SUCCESS;
}

void eeprom_put_value(const eeprom_value_t *value, const uint8_t *src) {
    EEPROM_ASSERT(value);
    EEPROM_ASSERT(src);
    eeprom_t *eeprom = value->eeprom;
    EEPROM_ASSERT(item_fits_image(value));
    memcpy(eeprom->data + value->offset, src, value->length);
    eeprom->data[value->valid_offset] = EEPROM_VALUE_VALID;
}

eeprom_status_t eeprom_take_value(const eeprom_value_t *value, const uint8_t *image,
                                  int32_t size, uint8_t *dst) {
    EEPROM_ASSERT(value);
    EEPROM_ASSERT(dst);
    switch (eeprom_item_state_in(value, image, size)) {
    case EEPROM_ITEM_ABSENT:
        eeprom_diag(value->eeprom->session, "cannot read %s, eeprom version not supported!\n",
                    value->name);
        return EEPROM_ERROR_INVALID_DATA;
    case EEPROM_ITEM_NOT_SET:
        eeprom_diag(value->eeprom->session, "%s has not been set!\n", value->name);
        return EEPROM_ERROR_INVALID_DATA;
    case EEPROM_ITEM_SET:
        break;
    }
    memcpy(dst, image + value->offset, value->length);
    return EEPROM_SUCCESS;
}

eeprom_status_t eeprom_read_value(const eeprom_value_t *value, uint8_t *dst) {
    EEPROM_ASSERT(value);
    EEPROM_ASSERT(dst);

    const eeprom_status_t status = load_item_region(value);
    if (status != EEPROM_SUCCESS) return status;
    return eeprom_take_value(value, value->eeprom->data, value->eeprom->size, dst);
}

eeprom_status_t eeprom_write_value(const eeprom_value_t *value,
                                   const uint8_t *src, uint16_t count) {
    EEPROM_ASSERT(value);
    EEPROM_ASSERT(src);

    if (count != value->length) {
        eeprom_diag(value->eeprom->session, "%s invalid length %d, expected %d!", value->name, count,
                value->length);
        return EEPROM_ERROR_INVALID_DATA;
    }
    eeprom_status_t status = load_item_region(value);
    if (status == EEPROM_SUCCESS) status = eeprom_check_writable(value);
    if (status != EEPROM_SUCCESS) return status;
    eeprom_put_value(value, src);
    return eeprom_write(value->eeprom);
}

