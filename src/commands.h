// The command table's rows and the handlers they name. `main` checks the
// number of words against the row and resolves the item or region the first
// word names before the handler runs.
#pragma once

#include "eeprom_common.h"

// What the first word after the command word names.
enum class command_target { none, item, region };

// The words after the command word, and what main resolved from the first.
struct command_args {
    eeprom_session *session;
    int argc;
    char **argv;
    const eeprom_value_t *item;    // command_target::item
    eeprom_t *region;              // command_target::region
    const eeprom_value_t *family;  // the item table of the region's board
};

// One row of the command table. A row whose words are not counted
// (`counted` false) ignores them.
struct command_t {
    char name[24];
    int (*handler)(const command_args &args);
    char description[64];
    command_target target;
    bool counted;
    int min_words, max_words;  // max_words -1: no limit
    const char *wrong_count;   // printed before the hint when the count is off
    // Words that fit the count but not the command (nullptr: any do), met
    // with the wrong-count message too.
    bool (*words_fit)(int argc, char **argv) = nullptr;
};

// The table, in the order help lists it, ended by a row with an empty name.
extern const command_t commands[];

int cmd_help(const command_args &args);
int cmd_version(const command_args &args);
int cmd_print_all(const command_args &args);
int cmd_reset(const command_args &args);
int cmd_lock(const command_args &args);
int cmd_unlock(const command_args &args);
int cmd_upgrade(const command_args &args);
int cmd_get(const command_args &args);
int cmd_set(const command_args &args);
int cmd_check(const command_args &args);
int cmd_dump(const command_args &args);
int cmd_restore(const command_args &args);
int cmd_export(const command_args &args);
int cmd_apply(const command_args &args);
bool apply_words_fit(int argc, char **argv);
int cmd_verify(const command_args &args);
