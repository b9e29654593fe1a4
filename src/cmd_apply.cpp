// apply: many items set from one file, each region stored once. A station
// that provisions a unit item by item rewrites the same pages once per item
// and leaves a half-provisioned unit when a value half way is bad; here every
// line is checked first, then every region involved is loaded and checked,
// and only then is anything written.
//
// A line holds an item's full name and its value words as `set` takes them:
//   unit_sn 1A2B3C4D5E   # a comment
//   board_revision "EVT 3"
//   ipd_min -3200 150 0
//   device_config calibration.bin
// Lines are read and split into words by the file reader (eeprom_files.h).
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "commands.h"
#include "eeprom_common.h"

namespace {

// The converted values, in file order, waiting for their regions' stores.
// Every item is given at most once, so they fit the regions' own sizes.
struct staged_item {
    const eeprom_value_t *value;
    size_t at;  // in the pool
};
constexpr int MAX_ITEMS = 64;

struct plan {
    staged_item items[MAX_ITEMS];
    int item_count;
    uint8_t pool[16384];
    size_t used;
    eeprom_t *regions[EEPROM_MAX_REGIONS];  // involved, in catalogue order
    int region_count;
};

plan the_plan;

bool staged(const plan &p, const eeprom_value_t *value) {
    for (int i = 0; i < p.item_count; ++i)
        if (p.items[i].value == value) return true;
    return false;
}

// One line: its words, the item, and the value converted and staged.
eeprom_status_t stage_line(plan *p, int number, char *line, size_t length) {
    static char *words[EEPROM_LINE_MAX_WORDS];
    int count = 0;
    switch (eeprom_split_words(line, length, words, &count)) {
    case eeprom_split::unterminated:
        fprintf(stderr, "line %d: unterminated quote\n", number);
        return EEPROM_ERROR_INVALID_PARAM;
    case eeprom_split::zero_byte:
        fprintf(stderr, "line %d: holds a zero byte\n", number);
        return EEPROM_ERROR_INVALID_PARAM;
    case eeprom_split::ok:
        break;
    }
    if (count == 0) return EEPROM_SUCCESS;

    const char *name = words[0];
    // Only a full name selects an item: an abbreviation in a file is a typo.
    const eeprom_value_t *value = eeprom_find_item(name, true);
    if (!value) {
        fprintf(stderr, "line %d: %s was not found!\n", number, name);
        return EEPROM_ERROR_INVALID_PARAM;
    }
    if (staged(*p, value)) {
        fprintf(stderr, "line %d: %s given twice\n", number, name);
        return EEPROM_ERROR_INVALID_PARAM;
    }
    EEPROM_ASSERT(p->item_count < MAX_ITEMS);
    EEPROM_ASSERT(p->used + value->length <= sizeof p->pool);

    char heading[sizeof value->name + 32];
    snprintf(heading, sizeof heading, "line %d: %s\n", number, value->name);
    eeprom_refusal_heading(heading);
    char prefix[sizeof value->name + 32];
    snprintf(prefix, sizeof prefix, "line %d: %s: ", number, value->name);
    eeprom_applying_line(prefix);
    const eeprom_status_t status = value->kind->parse(value, count - 1, words + 1, p->pool + p->used);
    eeprom_refusal_heading(nullptr);
    eeprom_applying_line("");
    if (status != EEPROM_SUCCESS) return status;

    p->items[p->item_count++] = {value, p->used};
    p->used += value->length;
    return EEPROM_SUCCESS;
}

eeprom_status_t stage_file(plan *p, int fd) {
    static eeprom_line_reader reader;
    static char line[EEPROM_LINE_MAX_LEN + 1];
    reader = {fd, {}, 0, 0, false};
    for (int number = 1;; ++number) {
        size_t length = 0;
        switch (eeprom_next_line(&reader, line, &length)) {
        case eeprom_line::end:
            return EEPROM_SUCCESS;
        case eeprom_line::read_error:
            fprintf(stderr, "\nRead Failed, errno: %d\n", errno);
            return EEPROM_ERROR_READ;
        case eeprom_line::too_long:
            fprintf(stderr, "line %d: too long\n", number);
            return EEPROM_ERROR_INVALID_PARAM;
        case eeprom_line::line:
            break;
        }
        const eeprom_status_t status = stage_line(p, number, line, length);
        if (status != EEPROM_SUCCESS) return status;
    }
}

bool involved(const plan &p, const eeprom_t *region) {
    for (int i = 0; i < p.item_count; ++i)
        if (p.items[i].value->eeprom == region) return true;
    return false;
}

void add_regions(plan *p, eeprom_t *const *regions) {
    for (; *regions && p->region_count < EEPROM_MAX_REGIONS; ++regions) {
        if (!involved(*p, *regions)) continue;
        p->regions[p->region_count++] = *regions;
    }
}

// The regions the staged items name, in catalogue order. The strap list is
// only asked for when a strap item was named, which has fixed its generation.
void order_regions(plan *p) {
    add_regions(p, core_eeproms());
    int core_items = 0;
    for (int i = 0; i < p->item_count; ++i)
        for (int r = 0; r < p->region_count; ++r)
            core_items += p->items[i].value->eeprom == p->regions[r];
    if (core_items < p->item_count) add_regions(p, strap_eeproms());
}

// Loads every region, then checks each one's lock and its items' versions in
// file order, with the messages of a set.
eeprom_status_t check_regions(const plan &p) {
    for (int r = 0; r < p.region_count; ++r) {
        const eeprom_status_t status = eeprom_load(p.regions[r]);
        if (status != EEPROM_SUCCESS) return status;
    }
    for (int r = 0; r < p.region_count; ++r) {
        for (int i = 0; i < p.item_count; ++i) {
            if (p.items[i].value->eeprom != p.regions[r]) continue;
            const eeprom_status_t status = eeprom_check_writable(p.items[i].value);
            if (status != EEPROM_SUCCESS) return status;
        }
    }
    return EEPROM_SUCCESS;
}

// One store per region. A failing store ends the run; the regions stored
// before it are named, since they now hold their new items.
eeprom_status_t store_regions(plan *p) {
    for (int r = 0; r < p->region_count; ++r) {
        eeprom_t *region = p->regions[r];
        int count = 0;
        for (int i = 0; i < p->item_count; ++i) {
            if (p->items[i].value->eeprom != region) continue;
            eeprom_put_value(p->items[i].value, p->pool + p->items[i].at);
            ++count;
        }
        fprintf(stderr, " Applying %d items to %s\n", count, region->name);
        const eeprom_status_t status = eeprom_write(region);
        if (status != EEPROM_SUCCESS) {
            for (int done = 0; done < r; ++done)
                fprintf(stderr, " %s written\n", p->regions[done]->name);
            return status;
        }
    }
    return EEPROM_SUCCESS;
}

}  // namespace

int cmd_apply(const command_args &a) {
    const char *filename = a.argv[0];
    const bool from_stdin = strcmp(filename, "-") == 0;
    int fd = STDIN_FILENO;
    if (!from_stdin) {
        const eeprom_status_t opened = eeprom_open_file(filename, &fd);
        if (opened != EEPROM_SUCCESS) return opened;
    }
    plan *p = &the_plan;
    eeprom_applying(fd);
    eeprom_status_t status = stage_file(p, fd);
    eeprom_applying(-1);
    if (!from_stdin) close(fd);
    if (status != EEPROM_SUCCESS || p->item_count == 0) return status;

    order_regions(p);
    status = check_regions(*p);
    return status == EEPROM_SUCCESS ? store_regions(p) : status;
}
