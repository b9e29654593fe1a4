// Provisioning files: read and check every line, load and check every
// region involved, then store each region once.
#include "eeprom_apply.h"
#include "eeprom_codecs.h"
#include "eeprom_image.h"
#include "eeprom_internal.h"
#include "eeprom_items.h"
#include "eeprom_session.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace {

bool staged(const eeprom_apply_plan &p, const eeprom_value_t *value) {
    for (int i = 0; i < p.item_count; ++i)
        if (p.items[i].value == value) return true;
    return false;
}

// One line: its words, the item, and the value converted and staged.
eeprom_status_t stage_line(eeprom_session *s, int number, size_t length) {
    eeprom_apply_plan *p = &s->plan;
    char **words = p->words;
    int count = 0;
    switch (eeprom_split_words(p->line, length, words, &count)) {
    case eeprom_split::unterminated:
        eeprom_diag(s, "line %d: unterminated quote\n", number);
        return EEPROM_ERROR_INVALID_PARAM;
    case eeprom_split::zero_byte:
        eeprom_diag(s, "line %d: holds a zero byte\n", number);
        return EEPROM_ERROR_INVALID_PARAM;
    case eeprom_split::ok:
        break;
    }
    if (count == 0) return EEPROM_SUCCESS;

    const char *name = words[0];
    // Only a full name selects an item: an abbreviation in a file is a typo.
    const eeprom_value_t *value = eeprom_find_item(s, name, true);
    if (!value) {
        eeprom_diag(s, "line %d: %s was not found!\n", number, name);
        return EEPROM_ERROR_INVALID_PARAM;
    }
    if (staged(*p, value)) {
        eeprom_diag(s, "line %d: %s given twice\n", number, name);
        return EEPROM_ERROR_INVALID_PARAM;
    }
    EEPROM_ASSERT(p->item_count < EEPROM_APPLY_MAX_ITEMS);
    EEPROM_ASSERT(p->used + value->length <= sizeof p->pool);

    char heading[sizeof value->name + 32];
    snprintf(heading, sizeof heading, "line %d: %s\n", number, value->name);
    eeprom_refusal_heading(s, heading);
    char prefix[sizeof value->name + 32];
    snprintf(prefix, sizeof prefix, "line %d: %s: ", number, value->name);
    eeprom_applying_line(s, prefix);
    const eeprom_status_t status = value->kind->parse(value, count - 1, words + 1, p->pool + p->used);
    eeprom_refusal_heading(s, nullptr);
    eeprom_applying_line(s, "");
    if (status != EEPROM_SUCCESS) return status;

    p->items[p->item_count++] = {value, p->used, number};
    p->used += value->length;
    return EEPROM_SUCCESS;
}

eeprom_status_t stage_file(eeprom_session *s, int fd) {
    eeprom_apply_plan *p = &s->plan;
    p->reader = {fd, {}, 0, 0, false};
    for (int number = 1;; ++number) {
        size_t length = 0;
        switch (eeprom_next_line(&p->reader, p->line, &length)) {
        case eeprom_line::end:
            return EEPROM_SUCCESS;
        case eeprom_line::read_error:
            eeprom_diag(s, "\nRead Failed, errno: %d\n", errno);
            return EEPROM_ERROR_READ;
        case eeprom_line::too_long:
            eeprom_diag(s, "line %d: too long\n", number);
            return EEPROM_ERROR_INVALID_PARAM;
        case eeprom_line::line:
            break;
        }
        const eeprom_status_t status = stage_line(s, number, length);
        if (status != EEPROM_SUCCESS) return status;
    }
}

bool involved(const eeprom_apply_plan &p, const eeprom_t *region) {
    for (int i = 0; i < p.item_count; ++i)
        if (p.items[i].value->eeprom == region) return true;
    return false;
}

void add_regions(eeprom_apply_plan *p, eeprom_t *const *regions) {
    for (; *regions && p->region_count < EEPROM_MAX_REGIONS; ++regions) {
        if (!involved(*p, *regions)) continue;
        p->regions[p->region_count++] = *regions;
    }
}

// The regions the staged items name, in catalogue order. The strap list is
// only asked for when a strap item was named, which has fixed its generation.
void order_regions(eeprom_session *s) {
    eeprom_apply_plan *p = &s->plan;
    add_regions(p, core_eeproms(s));
    int core_items = 0;
    for (int i = 0; i < p->item_count; ++i)
        for (int r = 0; r < p->region_count; ++r)
            core_items += p->items[i].value->eeprom == p->regions[r];
    if (core_items < p->item_count) add_regions(p, strap_eeproms(s));
}

// One store per region. A failing store ends the run; the regions stored
// before it are named, since they now hold their new items.
eeprom_status_t store_regions(eeprom_session *s) {
    eeprom_apply_plan *p = &s->plan;
    for (int r = 0; r < p->region_count; ++r) {
        eeprom_t *region = p->regions[r];
        int count = 0;
        for (int i = 0; i < p->item_count; ++i) {
            if (p->items[i].value->eeprom != region) continue;
            eeprom_put_value(p->items[i].value, p->pool + p->items[i].at);
            ++count;
        }
        eeprom_diag(s, " Applying %d items to %s\n", count, region->name);
        const eeprom_status_t status = eeprom_write(region);
        if (status != EEPROM_SUCCESS) {
            for (int done = 0; done < r; ++done)
                eeprom_diag(s, " %s written\n", p->regions[done]->name);
            return status;
        }
    }
    return EEPROM_SUCCESS;
}

}  // namespace

eeprom_status_t eeprom_apply_read(eeprom_session *s, const char *filename) {
    EEPROM_ASSERT(s);
    EEPROM_ASSERT(filename);
    eeprom_apply_plan *p = &s->plan;
    p->item_count = 0;
    p->used = 0;
    p->region_count = 0;
    const bool from_stdin = strcmp(filename, "-") == 0;
    int fd = STDIN_FILENO;
    if (!from_stdin) {
        const eeprom_status_t opened = eeprom_open_file(s, filename, &fd);
        if (opened != EEPROM_SUCCESS) return opened;
    }
    eeprom_applying(s, fd);
    eeprom_status_t status = stage_file(s, fd);
    eeprom_applying(s, -1);
    if (!from_stdin) close(fd);
    if (status != EEPROM_SUCCESS || p->item_count == 0) return status;

    order_regions(s);
    for (int r = 0; r < p->region_count && status == EEPROM_SUCCESS; ++r)
        status = eeprom_load(p->regions[r]);
    return status;
}

eeprom_status_t eeprom_apply_check(eeprom_session *s) {
    EEPROM_ASSERT(s);
    const eeprom_apply_plan &p = s->plan;
    for (int r = 0; r < p.region_count; ++r) {
        for (int i = 0; i < p.item_count; ++i) {
            if (p.items[i].value->eeprom != p.regions[r]) continue;
            const eeprom_status_t status = eeprom_check_writable(p.items[i].value);
            if (status != EEPROM_SUCCESS) return status;
        }
    }
    for (int r = 0; r < p.region_count; ++r)
        if (p.regions[r]->write_errno != 0) return eeprom_refuse_store(p.regions[r]);
    return EEPROM_SUCCESS;
}

eeprom_status_t eeprom_apply_store(eeprom_session *s) {
    EEPROM_ASSERT(s);
    return store_regions(s);
}

eeprom_status_t eeprom_apply(eeprom_session *s, const char *filename) {
    eeprom_status_t status = eeprom_apply_read(s, filename);
    if (status == EEPROM_SUCCESS && s->plan.item_count > 0) status = eeprom_apply_check(s);
    if (status == EEPROM_SUCCESS && s->plan.item_count > 0) status = eeprom_apply_store(s);
    return status;
}
