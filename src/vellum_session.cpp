// The C interface: sessions, statuses, the catalogue of the fitted hardware.
#include "vellum_session.h"
#include "eeprom_internal.h"

#include <new>

#include <cstring>

#ifndef VERSION_STRING
#error "VERSION_STRING must be defined by the build"
#endif

const char *vellum_version(void) { return VERSION_STRING; }

const char *vellum_status_text(int status) {
    switch (status) {
    case VELLUM_OK: return "success";
    case VELLUM_DIFFERS: return "an item differs from the file";
    case VELLUM_ERROR_READ: return "reading the EEPROM or a file failed";
    case VELLUM_ERROR_WRITE: return "writing the EEPROM or a file failed";
    case VELLUM_ERROR_OPEN: return "the EEPROM's device file could not be opened";
    case VELLUM_ERROR_INVALID_DATA:
        return "invalid data: bad image, item not set or not in the layout, region locked";
    case VELLUM_ERROR_NO_INIT: return "the region was never initialised";
    case VELLUM_ERROR_INVALID_PARAM: return "invalid name, value, argument or buffer";
    case VELLUM_ERROR_UNSUPPORTED_VERSION: return "the region's layout is newer than this library";
    case VELLUM_ERROR_NOT_FOUND: return "no EEPROM with the region's label";
    default: break;
    }
    return status < 0 ? "the I2C device directory could not be listed" : "unknown status";
}

size_t vellum_session_size(void) { return sizeof(vellum_session); }

int vellum_open(void *memory, size_t size, uint32_t flags, vellum_session **session) {
    if (!memory || !session || size < sizeof(vellum_session) ||
        reinterpret_cast<uintptr_t>(memory) % alignof(vellum_session) != 0 ||
        (flags & ~VELLUM_READ_ONLY) != 0)
        return VELLUM_ERROR_INVALID_PARAM;
    vellum_session *s = new (memory) vellum_session;
    eeprom_session_init(&s->store);
    s->store.read_only = (flags & VELLUM_READ_ONLY) != 0;
    s->snapshot_taken = false;
    s->shot_count = 0;
    *session = s;
    return VELLUM_OK;
}

int vellum_close(vellum_session *s) {
    if (!s) return VELLUM_ERROR_INVALID_PARAM;
    eeprom_session_close(&s->store);
    return VELLUM_OK;
}

int vellum_use_chip_file(vellum_session *s, const char *label, const char *file) {
    if (!s || !label || !file) return VELLUM_ERROR_INVALID_PARAM;
    char why[160];
    const eeprom_status_t status = eeprom_chip_file(&s->store, label, file, why, sizeof why);
    if (status != EEPROM_SUCCESS) eeprom_diag(&s->store, "%s=%s: %s\n", label, file, why);
    return status;
}

int vellum_set_diagnostics(vellum_session *s, vellum_diagnostic_fn fn, void *user) {
    if (!s) return VELLUM_ERROR_INVALID_PARAM;
    s->store.diag = fn;
    s->store.user = user;
    return VELLUM_OK;
}

int vellum_done(vellum_session *s, int status) {
    eeprom_session_release(&s->store);
    return status;
}

const eeprom_value_t *vellum_find_item(vellum_session *s, const char *name) {
    const eeprom_value_t *value = eeprom_find_item(&s->store, name, true);
    if (!value) eeprom_diag(&s->store, "\n%s was not found!\n", name);
    return value;
}

eeprom_t *vellum_find_region(vellum_session *s, const char *name,
                             const eeprom_value_t **family) {
    eeprom_t *region = eeprom_find_region(&s->store, name, true, family);
    if (!region) eeprom_diag(&s->store, "\n%s was not found!\n", name);
    return region;
}

namespace {

int32_t kind_id(const eeprom_kind_t *kind) {
    const eeprom_kind_t *const kinds[] = {&EEPROM_KIND_CHAR,        &EEPROM_KIND_STRING,
                                          &EEPROM_KIND_MAC_ADDRESS, &EEPROM_KIND_UINT16,
                                          &EEPROM_KIND_UINT32,      &EEPROM_KIND_IPD_XYZ,
                                          &EEPROM_KIND_BINARY};
    for (int32_t i = 0; i < 7; ++i)
        if (kinds[i] == kind) return i + 1;
    return 0;
}

// The fitted hardware's items (or regions), core first, by position.
const eeprom_value_t *item_at(vellum_session *s, uint32_t index, uint32_t *count) {
    uint32_t n = 0;
    for (const eeprom_value_t *table : {core_values(&s->store), strap_values(&s->store)})
        for (; table->name[0] != '\0'; ++table, ++n)
            if (n == index) return table;
    *count = n;
    return nullptr;
}

eeprom_t *region_at(vellum_session *s, uint32_t index, uint32_t *count) {
    uint32_t n = 0;
    for (eeprom_t *const *list : {core_eeproms(&s->store), strap_eeproms(&s->store)})
        for (; *list; ++list, ++n)
            if (n == index) return *list;
    *count = n;
    return nullptr;
}

void copy_name(char *dst, size_t size, const char *src) {
    eeprom_join(dst, size, {src});
}

}  // namespace

int vellum_item_count(vellum_session *s, uint32_t *count) {
    if (!s || !count) return VELLUM_ERROR_INVALID_PARAM;
    item_at(s, UINT32_MAX, count);
    return VELLUM_OK;
}

int vellum_item_at(vellum_session *s, uint32_t index, vellum_item_info *info) {
    if (!s || !info) return VELLUM_ERROR_INVALID_PARAM;
    uint32_t count = 0;
    const eeprom_value_t *value = item_at(s, index, &count);
    if (!value) return VELLUM_ERROR_INVALID_PARAM;
    copy_name(info->name, sizeof info->name, value->name);
    copy_name(info->region, sizeof info->region, value->eeprom->name);
    info->kind = kind_id(value->kind);
    info->length = value->length;
    info->min_version = value->min_version;
    return VELLUM_OK;
}

int vellum_region_count(vellum_session *s, uint32_t *count) {
    if (!s || !count) return VELLUM_ERROR_INVALID_PARAM;
    region_at(s, UINT32_MAX, count);
    return VELLUM_OK;
}

int vellum_region_at(vellum_session *s, uint32_t index, vellum_region_info *info) {
    if (!s || !info) return VELLUM_ERROR_INVALID_PARAM;
    uint32_t count = 0;
    const eeprom_t *region = region_at(s, index, &count);
    if (!region) return VELLUM_ERROR_INVALID_PARAM;
    copy_name(info->name, sizeof info->name, region->name);
    copy_name(info->label, sizeof info->label, region->sysfs_name);
    info->offset = static_cast<uint32_t>(region->offset);
    info->size = static_cast<uint32_t>(eeprom_capacity(region));
    info->latest_version = region->latest_version;
    return VELLUM_OK;
}
