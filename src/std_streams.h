// The three standard descriptors: kept from pointing at anything else, and
// standard output, which carries the values other programs read, checked.
#pragma once

#include "eeprom_common.h"

// Started with descriptor 0, 1 or 2 closed (`vellum get unit_sn >&-`, a
// daemon's child), the next open would return it, and the EEPROM would become
// standard output or error: every message written into the chip. Occupies
// each closed one with a read-only descriptor of the root directory, through
// which every use fails (reading EISDIR, writing EBADF, reopening it as
// /dev/stdin or /dev/stdout) as it would have on the closed descriptor.
// Call first thing in main; false when a closed one cannot be occupied.
bool eeprom_occupy_std_fds();

// Ends a value written to standard output: flushes it, then writes the
// closing newline on standard error, or in its place "Write Failed!\n" and
// returns 3 (EEPROM_ERROR_WRITE) when the value did not get through. While
// the check is deferred the newline is written whatever happened.
eeprom_status_t eeprom_end_value();

// A listing (print_all) goes on after a failed value and reports a failure
// of standard output once, at its end, through eeprom_stdout_finish.
void eeprom_stdout_defer();

// The final flush of every command: when standard output failed at any
// point, prints "Write Failed!\n" on standard error (unless already printed)
// and returns 3, which overrides any other status; otherwise `status`.
// Failures on standard error are ignored.
int eeprom_stdout_finish(int status);
