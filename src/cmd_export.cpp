// export: every region's header and every item's value as one line of JSON,
// for programs that would otherwise scrape the labels of print_all. Each
// region is loaded once; items are decoded from the loaded images without
// further device access or per-item diagnostics.
#include <cstdio>
#include <cstring>

#include "commands.h"
#include "eeprom_common.h"

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

// The regions of the fitted hardware, core then strap, as they loaded.
struct loaded_region {
    eeprom_t *region;
    eeprom_status_t status;
};
struct loaded_set {
    loaded_region regions[EEPROM_MAX_REGIONS];
    int count;
};

void load_family(eeprom_t *const *regions, loaded_set *set) {
    for (; *regions && set->count < EEPROM_MAX_REGIONS; ++regions)
        set->regions[set->count++] = {*regions, eeprom_load(*regions)};
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

// The text of a kind, as JSON: quoted up to its first zero byte, a bare
// number, or a list.
void json_value(const eeprom_value_t *value, const char *text, int32_t length) {
    switch (value->kind->json) {
    case EEPROM_JSON_TEXT:
        json_bytes(reinterpret_cast<const uint8_t *>(text), strnlen(text, length));
        break;
    case EEPROM_JSON_NUMBER:
        fputs(text, stdout);
        break;
    case EEPROM_JSON_LIST:
        printf("[%s]", text);
        break;
    }
}

// Returns the first item status that is not a success (5 for a blob whose
// stored length is illegal, which is left out), or `status`.
eeprom_status_t write_items(const eeprom_value_t *values, const loaded_set &set, bool *first,
                            eeprom_status_t status) {
    static char text[EEPROM_TEXT_MAX_LEN];
    for (const eeprom_value_t *value = values; value->name[0] != '\0'; ++value) {
        if (!loaded(set, value->eeprom)) continue;
        const eeprom_item_state_t state = eeprom_item_state(value);
        if (state == EEPROM_ITEM_ABSENT) continue;
        int32_t length = 0;
        if (state == EEPROM_ITEM_SET) {
            length = value->kind->format(value, eeprom_item_field(value), text, sizeof text);
            if (length < 0) {
                if (status == EEPROM_SUCCESS) status = EEPROM_ERROR_INVALID_DATA;
                continue;
            }
        }
        json_key(value->name, first);
        if (state == EEPROM_ITEM_NOT_SET)
            fputs("null", stdout);
        else
            json_value(value, text, length);
    }
    return status;
}

}  // namespace

int cmd_export(const command_args &a) {
    loaded_set set = {};
    load_family(core_eeproms(a.session), &set);
    load_family(strap_eeproms(a.session), &set);

    eeprom_status_t status = EEPROM_SUCCESS;
    for (int i = 0; i < set.count && status == EEPROM_SUCCESS; ++i) status = set.regions[i].status;

    fputs("{\"vellum\": ", stdout);
    json_text(VERSION_STRING);
    fputs(", \"regions\": ", stdout);
    write_regions(set);
    fputs(", \"items\": {", stdout);
    bool first = true;
    status = write_items(core_values(a.session), set, &first, status);
    status = write_items(strap_values(a.session), set, &first, status);
    fputs("}}\n", stdout);
    // A failure of standard output is reported once, by main's final flush.
    return status;
}
