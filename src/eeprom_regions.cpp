// Region maintenance: reset, lock, unlock and upgrade, and the raw images of
// dump and restore. Each goes through the image's load and store.
#include "eeprom_regions.h"
#include "eeprom_image.h"
#include "eeprom_internal.h"
#include "eeprom_session.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace {

// Header fields of the image in a region's buffer.
uint32_t image_magic(const eeprom_t *e) { return get_le32(e->data + 0); }
uint32_t image_version(const eeprom_t *e) { return get_le32(e->data + 4); }
uint8_t &image_lock(eeprom_t *e) { return e->data[8]; }

bool size_fits_buffer(const eeprom_t *e) {
    return e->size >= static_cast<int32_t>(EEPROM_HEADER_SIZE + EEPROM_CHECKSUM_SIZE) &&
           e->size <= eeprom_buffer_capacity(e->layouts);
}

// The image in the buffer names this region and a layout it knows: the size
// of that layout, else -1.
int32_t known_layout_size(const eeprom_t *e) {
    if (image_magic(e) != e->magic) return -1;
    return eeprom_layout_size(e->layouts, image_version(e));
}

void set_newest_size(eeprom_t *eeprom) {
    eeprom->size = eeprom_layout_size(eeprom->layouts, eeprom->latest_version);
    EEPROM_ASSERT(size_fits_buffer(eeprom));
}

}  // namespace

// Works without loading the stored image, so it recovers a region that is
// blank, corrupt, foreign, too new or locked. Only the region's own bytes
// are written; other regions on the same chip keep theirs.
eeprom_status_t eeprom_reset(eeprom_t *eeprom) {
    EEPROM_ASSERT(eeprom);
    const eeprom_status_t status = eeprom_open(eeprom);
    if (status != EEPROM_SUCCESS) return status;

    eeprom_diag(eeprom->session, " Reseting %s\n", eeprom->name);
    // Reading costs less than rewriting, whatever the region holds; a chip
    // that cannot be read is written whole.
    eeprom_read_raw(eeprom, eeprom_layout_size(eeprom->layouts, eeprom->latest_version));
    eeprom->loaded = false;
    set_newest_size(eeprom);
    memset(eeprom->data, 0xFF, eeprom->size);
    put_le32(eeprom->data + 0, eeprom->magic);
    put_le32(eeprom->data + 4, eeprom->latest_version);
    image_lock(eeprom) = EEPROM_UNLOCKED;
    return eeprom_write(eeprom);
}

namespace {

// Lock and unlock: the stored image, loaded, with another lock byte.
eeprom_status_t store_lock_byte(eeprom_t *eeprom, uint8_t lock, const char *progress) {
    const eeprom_status_t status = eeprom_load(eeprom);
    if (status != EEPROM_SUCCESS) return status;
    eeprom_diag(eeprom->session, " %s %s\n", progress, eeprom->name);
    image_lock(eeprom) = lock;
    return eeprom_write(eeprom);
}

}  // namespace

eeprom_status_t eeprom_lock(eeprom_t *eeprom) {
    EEPROM_ASSERT(eeprom);
    return store_lock_byte(eeprom, EEPROM_LOCKED, "Locking");
}

eeprom_status_t eeprom_unlock(eeprom_t *eeprom) {
    EEPROM_ASSERT(eeprom);
    return store_lock_byte(eeprom, EEPROM_UNLOCKED, "Unlocking");
}

// Newer layouts keep every older item in place and append the new ones where
// the older layout kept its checksum. The old checksum bytes thus end up
// inside the first new item, so every new item is marked not set (0x00).
eeprom_status_t eeprom_upgrade(eeprom_t *eeprom, const eeprom_value_t *values) {
    EEPROM_ASSERT(eeprom);
    const eeprom_status_t status = eeprom_load(eeprom);
    if (status != EEPROM_SUCCESS) return status;

    if (image_lock(eeprom) != EEPROM_UNLOCKED) {
        eeprom_diag(eeprom->session, "cannot upgrade %s, eeprom locked!\n", eeprom->name);
        return EEPROM_ERROR_INVALID_DATA;
    }
    const uint32_t stored = image_version(eeprom);
    if (stored == eeprom->latest_version) {
        eeprom_diag(eeprom->session, "Already Latest Version!\n");
        return EEPROM_SUCCESS;
    }
    for (const eeprom_value_t *value = values; value->name[0] != '\0'; ++value) {
        if (value->eeprom != eeprom || value->min_version <= stored) continue;
        eeprom_diag(eeprom->session, "Invalidating New Entry %s\n", value->name);
        eeprom->data[value->valid_offset] = 0x00;
    }
    eeprom_diag(eeprom->session, "Upgrading %s from %d to %d\n", eeprom->name,
            static_cast<int>(stored), static_cast<int>(eeprom->latest_version));
    put_le32(eeprom->data + 4, eeprom->latest_version);
    set_newest_size(eeprom);
    return eeprom_write(eeprom);
}

// ---------------------------------------------------------------------------
// Whole images: backup and restore

int32_t eeprom_capacity(const eeprom_t *eeprom) {
    EEPROM_ASSERT(eeprom);
    return eeprom_buffer_capacity(eeprom->layouts);
}

// Nothing is validated, so a damaged region can still be saved: the header
// decides how much is read only when it names this region and a known
// layout; otherwise the whole buffer is read.
eeprom_status_t eeprom_read_stored(eeprom_t *eeprom) {
    EEPROM_ASSERT(eeprom);
    eeprom->loaded = false;
    eeprom->size = EEPROM_HEADER_SIZE;
    bool read = eeprom_transfer(eeprom_xfer::read, eeprom->fd, eeprom->data, eeprom->size,
                                eeprom->offset) == eeprom->size;
    if (read) {
        const int32_t size = known_layout_size(eeprom);
        eeprom->size = size >= 0 ? size : eeprom_capacity(eeprom);
        EEPROM_ASSERT(size_fits_buffer(eeprom));
        read = eeprom_transfer(eeprom_xfer::read, eeprom->fd, eeprom->data, eeprom->size,
                               eeprom->offset) == eeprom->size;
    }
    if (!read) {
        eeprom_diag(eeprom->session, "Read Data Failed on errno: %d\n", errno);
        return EEPROM_ERROR_READ;
    }
    eeprom_saw(eeprom, eeprom->data, 0, eeprom->size);
    return EEPROM_SUCCESS;
}

namespace {

// What a load would accept, checked on `size` bytes of an image.
bool valid_image(const eeprom_t *eeprom, const uint8_t *image, int32_t size) {
    if (size < static_cast<int32_t>(EEPROM_HEADER_SIZE + EEPROM_CHECKSUM_SIZE)) return false;
    if (size > eeprom_capacity(eeprom) || get_le32(image) != eeprom->magic ||
        eeprom_layout_size(eeprom->layouts, get_le32(image + 4)) != size)
        return false;
    const int32_t body = size - EEPROM_CHECKSUM_SIZE;
    return eeprom_checksum(image, body) == get_le16(image + body);
}

}  // namespace

bool eeprom_valid_image(const eeprom_t *eeprom, const uint8_t *image, int32_t size) {
    EEPROM_ASSERT(eeprom);
    EEPROM_ASSERT(image);
    return valid_image(eeprom, image, size);
}

// Stores the image as a reset stores its own: whatever the chip holds now,
// locked or not. What is stored decides whether its checksum must go first.
eeprom_status_t eeprom_restore(eeprom_t *eeprom, const uint8_t *image, int32_t size) {
    EEPROM_ASSERT(eeprom);
    EEPROM_ASSERT(valid_image(eeprom, image, size));
    const eeprom_status_t status = eeprom_open(eeprom);
    if (status != EEPROM_SUCCESS) return status;

    if (eeprom->chip_known < static_cast<int32_t>(EEPROM_HEADER_SIZE)) {
        if (eeprom_transfer(eeprom_xfer::read, eeprom->fd, eeprom->chip, EEPROM_HEADER_SIZE,
                            eeprom->offset, false) != static_cast<ssize_t>(EEPROM_HEADER_SIZE)) {
            eeprom_diag(eeprom->session, "Read Header Failed on errno: %d\n", errno);
            return EEPROM_ERROR_READ;
        }
        eeprom_saw(eeprom, eeprom->chip, 0, EEPROM_HEADER_SIZE);
    }
    const int32_t stored_size =
        get_le32(eeprom->chip) == eeprom->magic
            ? eeprom_layout_size(eeprom->layouts, get_le32(eeprom->chip + 4))
            : -1;

    eeprom_diag(eeprom->session, " Restoring %s\n", eeprom->name);
    eeprom_read_raw(eeprom, stored_size > size ? stored_size : size);
    memcpy(eeprom->data, image, size);
    eeprom->size = size;
    return eeprom_write_over(eeprom, stored_size);
}
