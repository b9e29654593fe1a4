// The C interface: writing items and provisioning files, and maintaining
// regions. Every write loads its region afresh under its lock, whatever a
// snapshot holds.
#include "vellum_session.h"
#include "eeprom_internal.h"

#include <cstring>

int vellum_set(vellum_session *s, const char *item, int argc, const char *const *argv) {
    if (!s || !item || argc < 0 || (argc > 0 && !argv)) return VELLUM_ERROR_INVALID_PARAM;
    for (int i = 0; i < argc; ++i)
        if (!argv[i]) return VELLUM_ERROR_INVALID_PARAM;
    const eeprom_value_t *value = vellum_find_item(s, item);
    if (!value) return vellum_done(s, VELLUM_ERROR_INVALID_PARAM);
    // The setters read the words and never change them.
    static const char *const no_words[] = {nullptr};
    char **words = const_cast<char **>(argc > 0 ? argv : no_words);
    return vellum_done(s, value->set(value, argc, words));
}

int vellum_set_blob(vellum_session *s, const char *item, const void *data, size_t length) {
    if (!s || !item || (length > 0 && !data)) return VELLUM_ERROR_INVALID_PARAM;
    const eeprom_value_t *value = vellum_find_item(s, item);
    if (!value || value->kind != &EEPROM_KIND_BINARY)
        return vellum_done(s, VELLUM_ERROR_INVALID_PARAM);
    const size_t room = static_cast<size_t>(value->length - 2);
    if (length > room) {
        eeprom_diag(&s->store, "\nFile Size too large %ld > %d\n", static_cast<long>(length),
                    static_cast<int>(room));
        return vellum_done(s, VELLUM_ERROR_INVALID_PARAM);
    }
    uint8_t field[EEPROM_VALUE_MAX_LEN] = {};
    put_le16(field, static_cast<uint16_t>(length));
    if (length > 0) memcpy(field + 2, data, length);
    return vellum_done(s, eeprom_write_value(value, field, value->length));
}

int vellum_apply(vellum_session *s, const char *path) {
    if (!s || !path) return VELLUM_ERROR_INVALID_PARAM;
    return vellum_done(s, eeprom_apply(&s->store, path));
}

int vellum_apply_dry_run(vellum_session *s, const char *path) {
    if (!s || !path) return VELLUM_ERROR_INVALID_PARAM;
    return vellum_done(s, eeprom_apply_dry_run(&s->store, path));
}

int vellum_verify(vellum_session *s, const char *path, vellum_line_fn differs, void *user) {
    if (!s || !path) return VELLUM_ERROR_INVALID_PARAM;
    return vellum_done(s, eeprom_verify(&s->store, path, differs, user));
}

int vellum_check(vellum_session *s, const char *name, vellum_region_check *check) {
    if (!s || !name || !check) return VELLUM_ERROR_INVALID_PARAM;
    const eeprom_value_t *family = nullptr;
    eeprom_t *region = vellum_find_region(s, name, &family);
    if (!region) return vellum_done(s, VELLUM_ERROR_INVALID_PARAM);
    *check = {eeprom_load(region), 0, 0, 0, 0};
    if (check->status == EEPROM_SUCCESS) {
        check->version = eeprom_image_version(region);
        check->locked = eeprom_image_locked(region);
        for (const eeprom_value_t *value = family; value->name[0] != '\0'; ++value) {
            if (value->eeprom != region) continue;
            const eeprom_item_state_t state = eeprom_item_state(value);
            check->items_contained += state != EEPROM_ITEM_ABSENT;
            check->items_set += state == EEPROM_ITEM_SET;
        }
    }
    return vellum_done(s, check->status);
}

namespace {

// A region operation on the region a full name means.
int on_region(vellum_session *s, const char *name,
              eeprom_status_t (*op)(eeprom_t *, const eeprom_value_t *)) {
    if (!s || !name) return VELLUM_ERROR_INVALID_PARAM;
    const eeprom_value_t *family = nullptr;
    eeprom_t *region = vellum_find_region(s, name, &family);
    return vellum_done(s, region ? op(region, family) : VELLUM_ERROR_INVALID_PARAM);
}

eeprom_status_t reset(eeprom_t *r, const eeprom_value_t *) { return eeprom_reset(r); }
eeprom_status_t lock(eeprom_t *r, const eeprom_value_t *) { return eeprom_lock(r); }
eeprom_status_t unlock(eeprom_t *r, const eeprom_value_t *) { return eeprom_unlock(r); }

}  // namespace

int vellum_reset(vellum_session *s, const char *region) { return on_region(s, region, reset); }
int vellum_lock(vellum_session *s, const char *region) { return on_region(s, region, lock); }
int vellum_unlock(vellum_session *s, const char *region) { return on_region(s, region, unlock); }
int vellum_upgrade(vellum_session *s, const char *region) {
    return on_region(s, region, eeprom_upgrade);
}

int vellum_dump(vellum_session *s, const char *name, void *image, size_t size, size_t *length) {
    if (!s || !name || !image) return VELLUM_ERROR_INVALID_PARAM;
    const eeprom_value_t *family = nullptr;
    eeprom_t *region = vellum_find_region(s, name, &family);
    if (!region) return vellum_done(s, VELLUM_ERROR_INVALID_PARAM);
    eeprom_status_t status = eeprom_open(region);
    if (status == EEPROM_SUCCESS) status = eeprom_read_stored(region);
    if (status == EEPROM_SUCCESS) {
        const size_t count = static_cast<size_t>(region->size);
        if (length) *length = count;
        if (count > size)
            status = VELLUM_ERROR_INVALID_PARAM;
        else
            memcpy(image, region->data, count);
    }
    return vellum_done(s, status);
}

int vellum_restore(vellum_session *s, const char *name, const void *image, size_t length) {
    if (!s || !name || !image) return VELLUM_ERROR_INVALID_PARAM;
    const eeprom_value_t *family = nullptr;
    eeprom_t *region = vellum_find_region(s, name, &family);
    if (!region) return vellum_done(s, VELLUM_ERROR_INVALID_PARAM);
    const uint8_t *bytes = static_cast<const uint8_t *>(image);
    if (length > static_cast<size_t>(eeprom_capacity(region)) ||
        !eeprom_valid_image(region, bytes, static_cast<int32_t>(length))) {
        eeprom_diag(&s->store, "image is not a valid %s image\n", region->name);
        return vellum_done(s, VELLUM_ERROR_INVALID_DATA);
    }
    return vellum_done(s, eeprom_restore(region, bytes, static_cast<int32_t>(length)));
}
