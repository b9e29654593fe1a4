// A session: everything mutable that one user of the store owns. The
// catalogue's tables are static and read-only; a session copies the regions
// and items of the generation it finds fitted, with buffers of its own, and
// holds the device lookup's memory, the open chips and the apply plan.
// Sessions share nothing: one thread per session.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <initializer_list>

#include "eeprom_apply.h"
#include "eeprom_lookup.h"
#include "eeprom_records.h"

// The files a session reads its regions from instead of the chips that
// sysfs lists: one per device-tree label (nullptr: none).
constexpr int EEPROM_LABELS = 4;

// Bytes for the buffers of the largest fitted hardware (the second-
// generation core and the first-generation strap): image and chip copy.
constexpr size_t EEPROM_SESSION_BYTES = 2 * (256 + 277 + 6656 + 327);

struct eeprom_session {
    // How the caller hears of what happens. `diag` gets every diagnostic,
    // label and confirmation the tool prints on standard error, a piece at a
    // time (null: nothing is printed anywhere); `value` gets the text of a
    // get after its label (the tool: standard output, then the newline).
    void (*diag)(void *user, const char *text);
    eeprom_status_t (*value)(void *user, const char *text, size_t length);
    void *user;
    bool read_only;   // chips opened read-only with read locks; stores refused
    bool keep_locks;  // every lock held until the process ends (the tool)

    // Files standing for chips, by label (empty: none); when any is given
    // sysfs is not looked at.
    char chip_files[EEPROM_LABELS][sizeof(eeprom_t::path)];
    dev_t chip_dev[EEPROM_LABELS];
    ino_t chip_ino[EEPROM_LABELS];
    bool chip_files_given;

    int core_generation;  // 0 until probed, then 1 or 2 for good
    int strap_generation;
    eeprom_t regions[EEPROM_MAX_REGIONS];
    int region_count;
    eeprom_t *core_regions[EEPROM_MAX_REGIONS + 1];
    eeprom_t *strap_regions[EEPROM_MAX_REGIONS + 1];
    eeprom_value_t core_items[EEPROM_MAX_ITEMS + 1];
    eeprom_value_t strap_items[EEPROM_MAX_ITEMS + 1];
    uint8_t bytes[EEPROM_SESSION_BYTES];
    size_t bytes_used;

    eeprom_lookup_memo memo;
    const char *refusal_heading;
    eeprom_applied_file applied;
    eeprom_apply_plan plan;
};

// A fresh session: nothing probed, looked up or opened. A zero-filled one
// (static storage) is fresh already.
void eeprom_session_init(eeprom_session *s);
// Fixes the generations without probing (0: probe when first asked).
void eeprom_session_fix(eeprom_session *s, int core_generation, int strap_generation);
// The end of a call: every region's lock released, and with it what the
// session knew of the chips (not for keep_locks). The chips stay open and
// the paths found stay, so nothing is looked up or reported again; the next
// call locks afresh.
void eeprom_session_release(eeprom_session *s);
// Releases every lock and closes every chip, whatever keep_locks says.
void eeprom_session_close(eeprom_session *s);

// Item table (ended by an entry with an empty name) and region list (ended
// by a null reference) of the fitted generation. The first call of a family
// probes sysfs for the second-generation label and fixes the choice.
const eeprom_value_t *core_values(eeprom_session *s);
eeprom_t *const *core_eeproms(eeprom_session *s);
const eeprom_value_t *strap_values(eeprom_session *s);
eeprom_t *const *strap_eeproms(eeprom_session *s);

// The first item that `text` names, in the core table and, only when no core
// item matches, in the strap table (whose generation is then probed).
const eeprom_value_t *eeprom_find_item(eeprom_session *s, const char *text, bool exact);
// The first region that `text` names, core list first; the strap list is
// fetched even after a core match, so every region command settles the
// strap generation too. `family` gets the item table of the region's board.
eeprom_t *eeprom_find_region(eeprom_session *s, const char *text, bool exact,
                             const eeprom_value_t **family);

// Diagnostics: the texts to the session's diag, in one piece (as one fprintf
// to an unbuffered stream would) whenever they fit 639 characters.
void eeprom_report(const eeprom_session *s, std::initializer_list<const char *> parts);
void eeprom_diag(const eeprom_session *s, const char *format, ...)
    __attribute__((format(printf, 2, 3)));
