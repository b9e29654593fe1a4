// What both fuzz targets share: sessions on the tables of every hardware
// generation, emulated chips held in sealed memory files, and pointing a
// region record at such a chip instead of at sysfs.
//
// A region whose `path` is set is opened there without any device lookup,
// and no table is fetched through the generation probe, so sysfs is never
// looked at and every generation is reached in one process.
#pragma once

#include <cstddef>
#include <cstdint>

#include "catalogue.h"
#include "eeprom_common.h"
#include "eeprom_common.h"

// One hardware generation's item table and region list.
struct fuzz_tables {
    const eeprom_value_t *values;
    eeprom_t *const *regions;
};
// Core first and second generation, strap first and second generation, each
// a session's copy (filled before the first input).
extern fuzz_tables fuzz_table_sets[4];
constexpr size_t FUZZ_TABLE_SETS = 4;

// The largest chip an input can describe: a 24c64 and a little more, so that
// regions running past a chip's end and chips with room to spare both occur.
constexpr size_t FUZZ_CHIP_MAX = 8192 + 512;

// An emulated chip: `size` bytes that can be overwritten but neither grow nor
// shrink, like the `eeprom` file of a real chip. Returns its descriptor.
int fuzz_chip_create(size_t size);
// Puts `count` bytes at the start of the chip and erased bytes (0xFF) after.
void fuzz_chip_fill(int chip, const uint8_t *bytes, size_t count);
// The chip's bytes, into `out` (at least its size).
void fuzz_chip_read(int chip, uint8_t *out);
size_t fuzz_chip_size(int chip);

// Points the region at the chip with every run-time field as a fresh
// process has it: not open, no size, an empty buffer.
void fuzz_attach(eeprom_t *region, int chip);
// Closes what the store opened and clears the run-time fields again.
void fuzz_detach(eeprom_t *region);

// A file holding `count` bytes, named by a path the blob codec can open.
// Writes the path into `path` (at least 64 bytes) and returns the
// descriptor to close afterwards.
int fuzz_file_with(const uint8_t *bytes, size_t count, char *path);

// A broken expectation: reported on standard error and turned into a crash,
// so that the fuzzer keeps the input.
#define FUZZ_CHECK(cond) ((cond) ? (void)0 : fuzz_check_failed(#cond, __FILE__, __LINE__))
[[noreturn]] void fuzz_check_failed(const char *cond, const char *file, int line);

// Every getter prints. The harness's LLVMFuzzerInitialize (shared by the
// targets) tells the fuzzer, through its own arguments, to discard the
// target's standard output and error while keeping its own and the
// sanitizers' reports; `-close_fd_mask=0` on the command line overrides it.
