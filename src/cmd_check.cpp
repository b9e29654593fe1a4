// check: the health of every region of the fitted hardware, one line each.
// Each region is looked up, opened and loaded on its own, as a get would do
// it, so one damaged region or missing chip does not hide the others.
#include <cstdio>

#include "commands.h"
#include "eeprom_common.h"

namespace {

// Loads each region of one family and reports it; returns the first failing
// status, or `first` when that already holds one.
eeprom_status_t check_family(eeprom_t *const *regions, const eeprom_value_t *values,
                             eeprom_status_t first) {
    for (; *regions; ++regions) {
        eeprom_t *region = *regions;
        const eeprom_status_t status = eeprom_load(region);
        if (status != EEPROM_SUCCESS) {
            printf("%s: failed, status %d\n", region->name, status);
            if (first == EEPROM_SUCCESS) first = status;
        } else {
            int contained = 0;
            int set = 0;
            for (const eeprom_value_t *value = values; value->name[0] != '\0'; ++value) {
                if (value->eeprom != region) continue;
                const eeprom_item_state_t state = eeprom_item_state(value);
                contained += state != EEPROM_ITEM_ABSENT;
                set += state == EEPROM_ITEM_SET;
            }
            printf("%s: version %u, %s, %d of %d items set\n", region->name,
                   eeprom_image_version(region),
                   eeprom_image_locked(region) ? "locked" : "unlocked", set, contained);
        }
        // Each line goes out before the next region's diagnostics.
        fflush(stdout);
    }
    return first;
}

}  // namespace

int cmd_check(const command_args &a) {
    eeprom_status_t status = check_family(core_eeproms(a.session), core_values(a.session), EEPROM_SUCCESS);
    // A failure of standard output is reported once, by main's final flush.
    return check_family(strap_eeproms(a.session), strap_values(a.session), status);
}
