// export: every region's header and every item's value as one line of JSON,
// for programs that would otherwise scrape the labels of print_all. Each
// region is loaded once; items are decoded from the loaded images without
// further device access or per-item diagnostics.
#include <cstdio>
#include <cstring>

#include "catalogue.h"
#include "commands.h"
#include "eeprom_common.h"
#include "eeprom_internal.h"

#ifndef VERSION_STRING
#error "VERSION_STRING must be defined by the build"
#endif

namespace {

// Every stored byte survives: quote and backslash escaped, control bytes and
// everything from 0x7F written as \u00XX (a byte of a non-ASCII text thus
// comes back as that byte, not as a decoded character).
void json_bytes(const uint8_t *bytes, size_t length) {
    putchar('"');
    for (size_t i = 0; i < length; ++i) {
        const uint8_t c = bytes[i];
        if (c == '"' || c == '\\')
            printf("\\%c", c);
        else if (c < 0x20 || c >= 0x7F)
            printf("\\u%04X", c);
        else
            putchar(c);
    }
    putchar('"');
}

void json_text(const char *text) {
    json_bytes(reinterpret_cast<const uint8_t *>(text), strlen(text));
}

// Members after the first are separated by ", ".
void json_key(const char *key, bool *first) {
    if (!*first) fputs(", ", stdout);
    *first = false;
    json_text(key);
    fputs(": ", stdout);
}

// Char and string: the bytes up to the first zero, within the field.
void json_zero_ended(const eeprom_value_t *value, const uint8_t *field) {
    const void *end = memchr(field, 0, value->length);
    json_bytes(field, end ? static_cast<const uint8_t *>(end) - field : value->length);
}

void json_mac(const eeprom_value_t *, const uint8_t *f) {
    printf("\"%02X:%02X:%02X:%02X:%02X:%02X\"", f[0], f[1], f[2], f[3], f[4], f[5]);
}

void json_unsigned(const eeprom_value_t *value, const uint8_t *f) {
    unsigned number = 0;
    for (int i = value->length - 1; i >= 0; --i) number = number << 8 | f[i];
    printf("%u", number);
}

void json_ipd(const eeprom_value_t *, const uint8_t *f) {
    printf("[%d, %d, %d]", static_cast<int16_t>(get_le16(f)), static_cast<int16_t>(get_le16(f + 2)),
           static_cast<int16_t>(get_le16(f + 4)));
}

// Standard alphabet, padded with '='.
void json_base64(const uint8_t *data, size_t length) {
    static const char alphabet[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    putchar('"');
    for (size_t i = 0; i < length; i += 3) {
        const size_t n = length - i < 3 ? length - i : 3;
        uint32_t group = static_cast<uint32_t>(data[i]) << 16;
        if (n > 1) group |= static_cast<uint32_t>(data[i + 1]) << 8;
        if (n > 2) group |= data[i + 2];
        for (size_t k = 0; k < 4; ++k)
            putchar(k <= n ? alphabet[group >> (18 - 6 * k) & 0x3F] : '=');
    }
    putchar('"');
}

// A blob field: 16-bit data length, the data, zeros.
bool blob_legal(const eeprom_value_t *value, const uint8_t *field) {
    return get_le16(field) <= value->length - 2;
}

void json_blob(const eeprom_value_t *, const uint8_t *field) {
    json_base64(field + 2, get_le16(field));
}

// How each kind of item is written, found by its getter. `legal` says
// whether the stored bytes can be shown at all.
struct json_kind {
    eeprom_value_op_t get;
    void (*write)(const eeprom_value_t *value, const uint8_t *field);
    bool (*legal)(const eeprom_value_t *value, const uint8_t *field);
};

const json_kind kinds[] = {
    {eeprom_get_char, json_zero_ended, nullptr},
    {eeprom_get_string, json_zero_ended, nullptr},
    {eeprom_get_mac_address, json_mac, nullptr},
    {eeprom_get_uint16, json_unsigned, nullptr},
    {eeprom_get_uint32, json_unsigned, nullptr},
    {eeprom_get_ipd_xyz, json_ipd, nullptr},
    {eeprom_get_binary, json_blob, blob_legal},
};

const json_kind *kind_of(const eeprom_value_t *value) {
    const json_kind *found = nullptr;
    for (const json_kind &kind : kinds)
        if (kind.get == value->get) found = &kind;
    EEPROM_ASSERT(found);
    return found;
}

// The regions of the fitted hardware, core then strap, as they loaded.
struct loaded_region {
    eeprom_t *region;
    eeprom_status_t status;
};
constexpr int MAX_REGIONS = 8;

struct loaded_set {
    loaded_region regions[MAX_REGIONS];
    int count;
};

void load_family(eeprom_t *const *regions, loaded_set *set) {
    for (; *regions; ++regions) {
        EEPROM_ASSERT(set->count < MAX_REGIONS);
        set->regions[set->count++] = {*regions, eeprom_load(*regions)};
    }
}

bool loaded(const loaded_set &set, const eeprom_t *region) {
    for (int i = 0; i < set.count; ++i)
        if (set.regions[i].region == region) return set.regions[i].status == EEPROM_SUCCESS;
    return false;
}

void write_regions(const loaded_set &set) {
    bool first = true;
    putchar('{');
    for (int i = 0; i < set.count; ++i) {
        const loaded_region &r = set.regions[i];
        json_key(r.region->name, &first);
        if (r.status != EEPROM_SUCCESS)
            printf("{\"status\": %d}", r.status);
        else
            printf("{\"version\": %u, \"locked\": %s}", eeprom_image_version(r.region),
                   eeprom_image_locked(r.region) ? "true" : "false");
    }
    putchar('}');
}

// Returns the first item status that is not a success (5 for a blob whose
// stored length is illegal, which is left out), or `status`.
eeprom_status_t write_items(const eeprom_value_t *values, const loaded_set &set, bool *first,
                            eeprom_status_t status) {
    for (const eeprom_value_t *value = values; value->name[0] != '\0'; ++value) {
        if (!loaded(set, value->eeprom)) continue;
        const eeprom_item_state_t state = eeprom_item_state(value);
        if (state == EEPROM_ITEM_ABSENT) continue;
        const uint8_t *field = value->eeprom->data + value->offset;
        const json_kind *kind = kind_of(value);
        if (state == EEPROM_ITEM_SET && kind->legal && !kind->legal(value, field)) {
            if (status == EEPROM_SUCCESS) status = EEPROM_ERROR_INVALID_DATA;
            continue;
        }
        json_key(value->name, first);
        if (state == EEPROM_ITEM_NOT_SET)
            fputs("null", stdout);
        else
            kind->write(value, field);
    }
    return status;
}

}  // namespace

int cmd_export(int, char **) {
    loaded_set set = {};
    load_family(core_eeproms(), &set);
    load_family(strap_eeproms(), &set);

    eeprom_status_t status = EEPROM_SUCCESS;
    for (int i = 0; i < set.count && status == EEPROM_SUCCESS; ++i) status = set.regions[i].status;

    fputs("{\"vellum\": ", stdout);
    json_text(VERSION_STRING);
    fputs(", \"regions\": ", stdout);
    write_regions(set);
    fputs(", \"items\": {", stdout);
    bool first = true;
    status = write_items(core_values(), set, &first, status);
    status = write_items(strap_values(), set, &first, status);
    fputs("}}\n", stdout);
    // A failure of standard output is reported once, by main's final flush.
    return status;
}
