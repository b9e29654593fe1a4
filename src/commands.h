// The factory and service commands, and the pieces of the front end they
// share with the commands in cli.cpp.
#pragma once

#include "eeprom_common.h"

// Handlers: the words after the command word; the result is the exit status.
int cmd_check(int argc, char **argv);
int cmd_dump(int argc, char **argv);
int cmd_restore(int argc, char **argv);
int cmd_export(int argc, char **argv);
int cmd_apply(int argc, char **argv);

// "For a list of items run: vellum help COMMAND".
void print_hint(const char *command);

// The region a word names, matched as the region commands match it (the
// first region of the core list, then of the strap list, whose name begins
// with the word), and the item table of its family in `family`. Without a
// match: the complaint and hint of `command`, and nullptr.
eeprom_t *region_or_complain(const char *text, const char *command, const eeprom_value_t **family);
