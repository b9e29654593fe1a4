// Sessions: the generation probe, the copies of the fitted generation's
// regions and items, the end of a call, and where diagnostics go.
#include "eeprom_session.h"
#include "catalogue.h"
#include "eeprom_image.h"
#include "eeprom_internal.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdarg>
#include <cstdio>
#include <cstring>

void eeprom_session_init(eeprom_session *s) {
    EEPROM_ASSERT(s);
    memset(static_cast<void *>(s), 0, sizeof *s);
}

void eeprom_session_fix(eeprom_session *s, int core_generation, int strap_generation) {
    EEPROM_ASSERT(s);
    s->core_generation = core_generation;
    s->strap_generation = strap_generation;
}

namespace {

uint8_t *take_bytes(eeprom_session *s, int32_t count) {
    EEPROM_ASSERT(s->bytes_used + static_cast<size_t>(count) <= sizeof s->bytes);
    uint8_t *bytes = s->bytes + s->bytes_used;
    s->bytes_used += static_cast<size_t>(count);
    return bytes;
}

// Builds the session's records of a table set's regions and items, each
// item pointing at the session's copy of its region and taking its
// operations from its kind.
void adopt(eeprom_session *s, const eeprom_table_set &set, eeprom_t **regions,
           eeprom_value_t *values) {
    EEPROM_ASSERT(set.region_count <= EEPROM_MAX_REGIONS - s->region_count);
    EEPROM_ASSERT(set.item_count <= EEPROM_MAX_ITEMS);
    for (int n = 0; n < set.region_count; ++n) {
        const eeprom_region_row &row = set.regions[n];
        eeprom_t *r = &s->regions[s->region_count++];
        *r = {};
        eeprom_join(r->name, sizeof r->name, {row.name});
        eeprom_join(r->sysfs_name, sizeof r->sysfs_name, {row.sysfs_name});
        r->fd = -1;
        r->latest_version = row.latest_version;
        r->layouts = row.layouts;
        r->offset = row.offset;
        r->magic = row.magic;
        const int32_t capacity = eeprom_buffer_capacity(r->layouts);
        r->data = take_bytes(s, capacity);
        r->chip = take_bytes(s, capacity);
        r->session = s;
        regions[n] = r;
    }
    regions[set.region_count] = nullptr;
    for (int i = 0; i < set.item_count; ++i) {
        const eeprom_item_row &row = set.items[i];
        EEPROM_ASSERT(row.region < set.region_count);
        const eeprom_kind_t *kind = eeprom_kind_of(row.kind);
        eeprom_value_t &v = values[i];
        v = {};
        eeprom_join(v.name, sizeof v.name, {row.name});
        v.eeprom = regions[row.region];
        v.offset = row.offset;
        v.length = row.length;
        v.valid_offset = static_cast<uint16_t>(row.offset + row.length);
        v.min_version = row.min_version;
        v.get = kind->get;
        v.set = kind->set;
        v.kind = kind;
    }
    values[set.item_count] = {};
}

// A family's tables: probed once for the label of the second generation's
// first region. Only an exact "found" selects it: an absent label and an
// unreadable sysfs both mean the first generation, whose failures surface
// when a region opens.
void select_generation(eeprom_session *s, int *generation, eeprom_t **regions,
                       eeprom_value_t *values, const eeprom_table_set &gen1,
                       const eeprom_table_set &gen2) {
    if (regions[0]) return;
    if (*generation == 0)
        *generation = eeprom_find(gen2.regions[0].sysfs_name, nullptr, s) == 1 ? 2 : 1;
    adopt(s, *generation == 2 ? gen2 : gen1, regions, values);
}

void select_core(eeprom_session *s) {
    EEPROM_ASSERT(s);
    select_generation(s, &s->core_generation, s->core_regions, s->core_items, core_gen1,
                      core_gen2);
}

void select_strap(eeprom_session *s) {
    EEPROM_ASSERT(s);
    select_generation(s, &s->strap_generation, s->strap_regions, s->strap_items, strap_gen1,
                      strap_gen2);
}

}  // namespace

const eeprom_value_t *core_values(eeprom_session *s) {
    select_core(s);
    return s->core_items;
}

eeprom_t *const *core_eeproms(eeprom_session *s) {
    select_core(s);
    return s->core_regions;
}

const eeprom_value_t *strap_values(eeprom_session *s) {
    select_strap(s);
    return s->strap_items;
}

eeprom_t *const *strap_eeproms(eeprom_session *s) {
    select_strap(s);
    return s->strap_regions;
}

namespace {

const eeprom_value_t *first_value(const eeprom_value_t *values, const char *text, bool exact) {
    for (; values->name[0] != '\0'; ++values)
        if (eeprom_name_matches(values->name, text, exact)) return values;
    return nullptr;
}

eeprom_t *first_region(eeprom_t *const *regions, const char *text, bool exact) {
    for (; *regions; ++regions)
        if (eeprom_name_matches((*regions)->name, text, exact)) return *regions;
    return nullptr;
}

}  // namespace

const eeprom_value_t *eeprom_find_item(eeprom_session *s, const char *text, bool exact) {
    const eeprom_value_t *value = first_value(core_values(s), text, exact);
    return value ? value : first_value(strap_values(s), text, exact);
}

eeprom_t *eeprom_find_region(eeprom_session *s, const char *text, bool exact,
                             const eeprom_value_t **family) {
    eeprom_t *region = first_region(core_eeproms(s), text, exact);
    *family = core_values(s);
    eeprom_t *const *straps = strap_eeproms(s);
    if (!region) {
        region = first_region(straps, text, exact);
        *family = strap_values(s);
    }
    return region;
}

namespace {

// Every lock released, and with them what the session knew of the chips;
// the chips stay open for the next call unless `close_chips`.
void release(eeprom_session *s, bool close_chips) {
    for (int i = 0; i < s->region_count; ++i) {
        eeprom_t *r = &s->regions[i];
        if (r->fd < 0) continue;
        // Closing the chip's only descriptor releases its lock as well.
        if (r->locked && !close_chips) {
            struct flock unlock = {};
            unlock.l_type = F_UNLCK;
            unlock.l_whence = SEEK_SET;
            unlock.l_start = r->offset;
            unlock.l_len = eeprom_buffer_capacity(r->layouts);
            fcntl(r->fd, F_OFD_SETLK, &unlock);
        }
        r->locked = false;
        eeprom_forget(r);
        if (close_chips) {
            close(r->fd);
            r->fd = -1;
        }
    }
}

}  // namespace

void eeprom_session_release(eeprom_session *s) {
    EEPROM_ASSERT(s);
    if (!s->keep_locks) release(s, false);
}

void eeprom_session_close(eeprom_session *s) {
    EEPROM_ASSERT(s);
    release(s, true);
}

// ---------------------------------------------------------------------------
// Diagnostics

void eeprom_report(const eeprom_session *s, std::initializer_list<const char *> parts) {
    if (!s || !s->diag) return;
    char line[640];
    if (eeprom_join(line, sizeof line, parts) < sizeof line - 1) {
        s->diag(s->user, line);
        return;
    }
    // Too long for one piece (a long file name): same bytes, several pieces.
    for (const char *part : parts) s->diag(s->user, part);
}

namespace {

void vdiag(const eeprom_session *s, const char *heading, const char *format, va_list args) {
    if (!s || !s->diag) return;
    char text[8192];
    if (heading) s->diag(s->user, heading);
    vsnprintf(text, sizeof text, format, args);
    s->diag(s->user, text);
}

}  // namespace

void eeprom_diag(const eeprom_session *s, const char *format, ...) {
    va_list args;
    va_start(args, format);
    vdiag(s, nullptr, format, args);
    va_end(args);
}

void eeprom_refusal_heading(eeprom_session *s, const char *heading) {
    EEPROM_ASSERT(s);
    s->refusal_heading = heading;
}

// Every complaint of a conversion step comes through here, so that a caller
// checking many values can say which one was refused, and only when one is.
void eeprom_refuse(const eeprom_session *s, const char *format, ...) {
    va_list args;
    va_start(args, format);
    vdiag(s, s ? s->refusal_heading : nullptr, format, args);
    va_end(args);
}
