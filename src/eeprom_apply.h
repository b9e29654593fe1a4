// Provisioning files: many items set from one file, each region stored once.
// A station that provisions a unit item by item rewrites the same pages once
// per item and leaves a half-provisioned unit when a value half way is bad;
// here every line is checked first, then every region involved is loaded and
// checked, and only then is anything written.
//
// A line holds an item's full name and its value words as `set` takes them:
//   unit_sn 1A2B3C4D5E   # a comment
//   board_revision "EVT 3"
//   ipd_min -3200 150 0
//   device_config calibration.bin
// Lines are read and split into words by the file reader (eeprom_files.h).
#pragma once

#include "eeprom_files.h"
#include "eeprom_records.h"

// The converted values, in file order, waiting for their regions' stores.
// Every item is given at most once, so they fit the regions' own sizes.
struct eeprom_staged_item {
    const eeprom_value_t *value;
    size_t at;  // in the pool
    int line;   // where the file gave it
};

constexpr int EEPROM_APPLY_MAX_ITEMS = 2 * EEPROM_MAX_ITEMS;

struct eeprom_apply_plan {
    eeprom_staged_item items[EEPROM_APPLY_MAX_ITEMS];
    int item_count;
    uint8_t pool[16384];
    size_t used;
    eeprom_t *regions[EEPROM_MAX_REGIONS];  // involved, in catalogue order
    int region_count;
    // Where the lines are read and split.
    eeprom_line_reader reader;
    char line[EEPROM_LINE_MAX_LEN + 1];
    char *words[EEPROM_LINE_MAX_WORDS];
};

// Reads the file (`-`: standard input) into the session's plan, every line
// checked with the rules and messages of `set`, then loads every region
// involved, in catalogue order. A file of no items loads nothing.
eeprom_status_t eeprom_apply_read(eeprom_session *s, const char *filename);
// Each region's lock and its items' layout versions, in file order, with the
// messages of a set; then whether each chip can be written at all.
eeprom_status_t eeprom_apply_check(eeprom_session *s);
// One store per region of the plan, with its items.
eeprom_status_t eeprom_apply_store(eeprom_session *s);
// All three.
eeprom_status_t eeprom_apply(eeprom_session *s, const char *filename);

// What apply would do, without storing: read and check as apply does, then
// " Would apply N items to REGION" for each region in place of its store.
eeprom_status_t eeprom_apply_dry_run(eeprom_session *s, const char *filename);

// Compares the items a provisioning file lists with what the chips hold, by
// what `get` prints (a blob by its length and data). The file is read and
// checked as apply reads it and the regions loaded; no write check applies.
// Each item that differs is one line to `differs` (as "line 3: unit_sn:
// stored A, file B\n"), in file order. Returns 0 when every item matches,
// EEPROM_DIFFERS when any line was given, or the status of the first
// refusal or failed load.
constexpr eeprom_status_t EEPROM_DIFFERS = 1;
typedef void (*eeprom_line_fn)(void *user, const char *text, size_t length);
eeprom_status_t eeprom_verify(eeprom_session *s, const char *filename, eeprom_line_fn differs,
                              void *user);
