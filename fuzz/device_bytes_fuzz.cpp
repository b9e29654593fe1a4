// Device bytes to results: whatever a chip holds (a strap is a replaceable
// part and may come from anywhere), loading it, printing every item of it
// and running every region operation on it must neither crash nor touch
// memory it does not own, and every image the store writes must load again.
//
// Input: a chip size (two bytes, little-endian, modulo FUZZ_CHIP_MAX + 1),
// then the chip's contents; bytes beyond the input read as erased (0xFF).
// Each region of every generation's tables sees the same chip at its own
// offset.
#include "fuzz_harness.h"

#include <unistd.h>

namespace {

// Getters as `get ITEM` and as `print_all` call them. A blob is saved to
// /dev/null: the file name matters to the codec, not to the chip.
void print_items(const eeprom_value_t *values, const eeprom_t *region) {
    static char sink[] = "/dev/null";
    char *words[] = {sink, nullptr};
    for (const eeprom_value_t *value = values; value->name[0] != '\0'; ++value) {
        if (value->eeprom != region) continue;
        value->get(value, 0, nullptr);
        value->get(value, 1, words);
    }
}

// After an operation reported success the region must load from the chip as
// it stands, as a fresh process would load it.
void expect_loads(eeprom_t *region, int chip) {
    fuzz_attach(region, chip);
    FUZZ_CHECK(eeprom_open(region) == EEPROM_SUCCESS);
    FUZZ_CHECK(eeprom_read(region) == EEPROM_SUCCESS);
}

enum class step { load_and_print, lock, unlock, upgrade, reset };
constexpr step STEPS[] = {step::load_and_print, step::lock, step::unlock, step::upgrade,
                          step::reset};

void run_step(step s, const fuzz_tables &tables, eeprom_t *region, int chip) {
    eeprom_status_t status = EEPROM_SUCCESS;
    switch (s) {
        case step::load_and_print:
            if (eeprom_open(region) == EEPROM_SUCCESS) eeprom_read(region);
            print_items(tables.values, region);
            return;
        case step::lock:
            status = eeprom_lock(region);
            break;
        case step::unlock:
            status = eeprom_unlock(region);
            break;
        case step::upgrade:
            status = eeprom_upgrade(region, tables.values);
            break;
        case step::reset:
            status = eeprom_reset(region);
            break;
    }
    if (status != EEPROM_SUCCESS) return;
    expect_loads(region, chip);
    const uint8_t lock = region->data[8];
    if (s == step::lock) FUZZ_CHECK(lock == EEPROM_LOCKED);
    if (s == step::unlock || s == step::reset) FUZZ_CHECK(lock == EEPROM_UNLOCKED);
    // An upgraded or reset region is at the newest layout.
    if (s == step::upgrade || s == step::reset)
        FUZZ_CHECK(region->size == eeprom_layout_size(region->layouts, region->latest_version));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size < 2) return -1;
    const size_t chip_size = (data[0] | data[1] << 8) % (FUZZ_CHIP_MAX + 1);
    const int chip = fuzz_chip_create(chip_size);
    for (const fuzz_tables &tables : fuzz_table_sets) {
        for (eeprom_t *const *region = tables.regions; *region; ++region) {
            for (step s : STEPS) {
                // Every step starts from the input's bytes, as a fresh
                // process on the same chip would.
                fuzz_chip_fill(chip, data + 2, size - 2);
                fuzz_attach(*region, chip);
                run_step(s, tables, *region, chip);
                fuzz_detach(*region);
            }
        }
    }
    close(chip);
    return 0;
}
