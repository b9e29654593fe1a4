// Provisioning files checked against the chips: verify (what differs) and
// the dry run of apply (what would be stored).
#include "eeprom_apply.h"
#include "eeprom_codecs.h"
#include "eeprom_internal.h"
#include "eeprom_items.h"
#include "eeprom_session.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

eeprom_status_t eeprom_apply_dry_run(eeprom_session *s, const char *filename) {
    eeprom_status_t status = eeprom_apply_read(s, filename);
    if (status == EEPROM_SUCCESS && s->plan.item_count > 0) status = eeprom_apply_check(s);
    if (status != EEPROM_SUCCESS) return status;
    const eeprom_apply_plan &p = s->plan;
    for (int r = 0; r < p.region_count; ++r) {
        int count = 0;
        for (int i = 0; i < p.item_count; ++i) count += p.items[i].value->eeprom == p.regions[r];
        eeprom_diag(s, " Would apply %d items to %s\n", count, p.regions[r]->name);
    }
    return EEPROM_SUCCESS;
}

namespace {

// One line of a difference, built in pieces: texts may hold any byte.
struct line_builder {
    char text[2 * EEPROM_TEXT_MAX_LEN + 128];
    size_t length;  // room is kept for a terminator
};

void add(line_builder *b, const char *bytes, size_t count) {
    if (count > sizeof b->text - 1 - b->length) count = sizeof b->text - 1 - b->length;
    memcpy(b->text + b->length, bytes, count);
    b->length += count;
}

void addf(line_builder *b, const char *format, ...) __attribute__((format(printf, 2, 3)));
void addf(line_builder *b, const char *format, ...) {
    va_list args;
    va_start(args, format);
    const int n = vsnprintf(b->text + b->length, sizeof b->text - b->length, format, args);
    va_end(args);
    if (n > 0) b->length += static_cast<size_t>(n) < sizeof b->text - b->length
                                ? static_cast<size_t>(n)
                                : sizeof b->text - b->length - 1;
}

// A blob: its stored data length and data, compared with the file's.
bool blob_differs(line_builder *b, const eeprom_value_t *value, const uint8_t *stored,
                  const uint8_t *file) {
    // A damaged length can point past the field: such a blob just differs.
    const unsigned have = get_le16(stored), want = get_le16(file);
    const bool legal = have <= value->length - 2u;
    if (legal && have == want && memcmp(stored + 2, file + 2, have) == 0) return false;
    addf(b, "stored %u bytes, file %u bytes", have, want);
    if (legal && have == want) {
        unsigned at = 0;
        while (stored[2 + at] == file[2 + at]) ++at;
        addf(b, ", differs at byte %u", at + 1);
    }
    return true;
}

// A value: the texts get would print for the stored and the file's bytes.
bool value_differs(line_builder *b, const eeprom_value_t *value, const uint8_t *stored,
                   const uint8_t *file) {
    static_assert(EEPROM_TEXT_MAX_LEN >= 64);
    char have[EEPROM_TEXT_MAX_LEN], want[EEPROM_TEXT_MAX_LEN];
    const int32_t h = value->kind->format(value, stored, have, sizeof have);
    const int32_t w = value->kind->format(value, file, want, sizeof want);
    if (h == w && memcmp(have, want, static_cast<size_t>(h)) == 0) return false;
    add(b, "stored ", 7);
    add(b, have, static_cast<size_t>(h));
    add(b, ", file ", 7);
    add(b, want, static_cast<size_t>(w));
    return true;
}

// The file's value as a difference line shows it when nothing is stored.
void file_side(line_builder *b, const eeprom_value_t *value, const uint8_t *file) {
    if (value->kind == &EEPROM_KIND_BINARY) {
        addf(b, "file %u bytes", static_cast<unsigned>(get_le16(file)));
        return;
    }
    char want[EEPROM_TEXT_MAX_LEN];
    const int32_t w = value->kind->format(value, file, want, sizeof want);
    add(b, "file ", 5);
    add(b, want, static_cast<size_t>(w));
}

}  // namespace

eeprom_status_t eeprom_verify(eeprom_session *s, const char *filename, eeprom_line_fn differs,
                              void *user) {
    eeprom_status_t status = eeprom_apply_read(s, filename);
    if (status != EEPROM_SUCCESS) return status;
    const eeprom_apply_plan &p = s->plan;
    static_assert(sizeof(line_builder) < 16384, "a line is built on the stack");
    for (int i = 0; i < p.item_count; ++i) {
        const eeprom_value_t *value = p.items[i].value;
        const uint8_t *file = p.pool + p.items[i].at;
        line_builder b;
        b.length = 0;
        addf(&b, "line %d: %s: ", p.items[i].line, value->name);
        bool different = true;
        switch (eeprom_item_state(value)) {
        case EEPROM_ITEM_ABSENT:
            addf(&b, "not in layout %u, ", eeprom_image_version(value->eeprom));
            file_side(&b, value, file);
            break;
        case EEPROM_ITEM_NOT_SET:
            add(&b, "stored not set, ", 16);
            file_side(&b, value, file);
            break;
        case EEPROM_ITEM_SET:
            different = value->kind == &EEPROM_KIND_BINARY
                            ? blob_differs(&b, value, eeprom_item_field(value), file)
                            : value_differs(&b, value, eeprom_item_field(value), file);
            break;
        }
        if (!different) continue;
        add(&b, "\n", 1);
        b.text[b.length < sizeof b.text ? b.length : sizeof b.text - 1] = '\0';
        if (differs) differs(user, b.text, b.length);
        status = EEPROM_DIFFERS;
    }
    return status;
}
