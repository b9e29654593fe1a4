// The C interface: snapshots and reading items, from the snapshot when one
// was taken, else from the chip under its lock for the call.
#include "vellum_session.h"
#include "eeprom_internal.h"

#include <cstring>

int vellum_snapshot(vellum_session *s) {
    if (!s) return VELLUM_ERROR_INVALID_PARAM;
    s->snapshot_taken = false;
    s->shot_count = 0;
    size_t used = 0;
    int first = VELLUM_OK;
    for (eeprom_t *const *list : {core_eeproms(&s->store), strap_eeproms(&s->store)}) {
        for (; *list && s->shot_count < EEPROM_MAX_REGIONS; ++list) {
            eeprom_t *region = *list;
            vellum_shot &shot = s->shots[s->shot_count++];
            shot = {region, eeprom_load(region), 0, s->images + used};
            used += static_cast<size_t>(eeprom_capacity(region));
            EEPROM_ASSERT(used <= sizeof s->images);
            if (shot.status == EEPROM_SUCCESS) {
                shot.size = region->size;
                memcpy(shot.image, region->data, static_cast<size_t>(region->size));
            } else if (first == VELLUM_OK) {
                first = shot.status;
            }
        }
    }
    s->snapshot_taken = true;
    // Reads are answered from the images now, not from the chips: they are
    // closed, which releases their locks, rather than kept for a next call.
    eeprom_session_close(&s->store);
    return first;
}

int vellum_drop_snapshot(vellum_session *s) {
    if (!s) return VELLUM_ERROR_INVALID_PARAM;
    s->snapshot_taken = false;
    return VELLUM_OK;
}

namespace {

// The item `name` of `kind` (nullptr: any), its field copied into `field`:
// from the snapshot when there is one (a region that failed to load there
// gives its load's status again, reported when the snapshot was taken),
// else loaded under the region's lock.
int take_field(vellum_session *s, const char *name, const eeprom_kind_t *kind,
               const eeprom_value_t **value, uint8_t *field) {
    *value = vellum_find_item(s, name);
    if (!*value || (kind && (*value)->kind != kind)) return VELLUM_ERROR_INVALID_PARAM;
    if (!s->snapshot_taken) return eeprom_read_value(*value, field);
    for (int i = 0; i < s->shot_count; ++i) {
        const vellum_shot &shot = s->shots[i];
        if (shot.region != (*value)->eeprom) continue;
        if (shot.status != EEPROM_SUCCESS) return shot.status;
        return eeprom_take_value(*value, shot.image, shot.size, field);
    }
    return VELLUM_ERROR_INVALID_PARAM;
}

// The same, ending the call when it fails (or when an argument is missing:
// `out`, the caller's buffer).
int field_of(vellum_session *s, const char *name, const void *out, const eeprom_kind_t *kind,
             const eeprom_value_t **value, uint8_t *field) {
    if (!s || !name || !out) return VELLUM_ERROR_INVALID_PARAM;
    const int status = take_field(s, name, kind, value, field);
    return status == VELLUM_OK ? status : vellum_done(s, status);
}

// Hands `count` bytes to the caller's buffer, or says how many it needs.
int hand_over(const void *bytes, size_t count, void *out, size_t size, size_t *length) {
    if (length) *length = count;
    if (count > size) return VELLUM_ERROR_INVALID_PARAM;
    memcpy(out, bytes, count);
    return VELLUM_OK;
}

// A blob's stored data length, which a damaged field can put past its end.
int blob_length(const eeprom_value_t *value, const uint8_t *field, size_t *length) {
    *length = get_le16(field);
    if (*length <= static_cast<size_t>(value->length - 2)) return VELLUM_OK;
    eeprom_diag(value->eeprom->session, "%s appear valid, but has illegal length: %d!\n",
                value->name, static_cast<int>(*length));
    return VELLUM_ERROR_INVALID_DATA;
}

// An item (of `kind`, when given), its field unpacked into the caller's
// `out`: the unpacking's status ends the call.
template <typename Out, typename Unpack>
int read_as(vellum_session *s, const char *item, Out *out, const eeprom_kind_t *kind,
            Unpack unpack) {
    uint8_t field[EEPROM_VALUE_MAX_LEN];
    const eeprom_value_t *value = nullptr;
    const int status = field_of(s, item, out, kind, &value, field);
    if (status != VELLUM_OK) return status;
    return vellum_done(s, unpack(value, field, out));
}

}  // namespace

int vellum_read_text(vellum_session *s, const char *item, char *text, size_t size,
                     size_t *length) {
    return read_as(s, item, text, nullptr, [&](const eeprom_value_t *value, const uint8_t *field,
                                               char *out) {
        size_t data = 0;
        if (value->kind == &EEPROM_KIND_BINARY) {
            const int status = blob_length(value, field, &data);
            if (status != VELLUM_OK) return status;
        }
        char formatted[EEPROM_TEXT_MAX_LEN];
        const int32_t n = value->kind->format(value, field, formatted, sizeof formatted);
        const int status = hand_over(formatted, static_cast<size_t>(n) + 1, out, size, length);
        if (length) *length = static_cast<size_t>(n);
        return status;
    });
}

int vellum_read_bytes(vellum_session *s, const char *item, void *bytes, size_t size,
                      size_t *length) {
    return read_as(s, item, bytes, nullptr, [&](const eeprom_value_t *value,
                                                const uint8_t *field, void *out) {
        const uint8_t *data = field;
        size_t count = value->length;
        int status = VELLUM_OK;
        if (value->kind == &EEPROM_KIND_STRING) {
            count = strnlen(reinterpret_cast<const char *>(field), value->length);
        } else if (value->kind == &EEPROM_KIND_BINARY) {
            status = blob_length(value, field, &count);
            data = field + 2;
        }
        return status == VELLUM_OK ? hand_over(data, count, out, size, length) : status;
    });
}

int vellum_read_uint(vellum_session *s, const char *item, uint32_t *number) {
    // Either width: the kind is checked once the item is known.
    const eeprom_value_t *found = s && item ? eeprom_find_item(&s->store, item, true) : nullptr;
    const eeprom_kind_t *kind =
        found && found->kind == &EEPROM_KIND_UINT32 ? &EEPROM_KIND_UINT32 : &EEPROM_KIND_UINT16;
    return read_as(s, item, number, kind, [](const eeprom_value_t *v, const uint8_t *f, uint32_t *n) {
        *n = v->length == 2 ? get_le16(f) : get_le32(f);
        return VELLUM_OK;
    });
}

int vellum_read_mac(vellum_session *s, const char *item, uint8_t mac[6]) {
    return read_as(s, item, mac, &EEPROM_KIND_MAC_ADDRESS,
                   [](const eeprom_value_t *, const uint8_t *f, uint8_t *m) {
                       memcpy(m, f, EEPROM_MAC_ADDR_LEN);
                       return VELLUM_OK;
                   });
}

int vellum_read_ipd(vellum_session *s, const char *item, int16_t xyz[3]) {
    return read_as(s, item, xyz, &EEPROM_KIND_IPD_XYZ,
                   [](const eeprom_value_t *, const uint8_t *f, int16_t *axes) {
                       for (int i = 0; i < 3; ++i) axes[i] = static_cast<int16_t>(get_le16(f + 2 * i));
                       return VELLUM_OK;
                   });
}
