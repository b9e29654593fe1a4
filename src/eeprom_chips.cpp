// Chip files: the labels they may stand for, and the checks a file passes
// before it is taken as a chip.
#include "eeprom_chips.h"
#include "catalogue.h"
#include "eeprom_internal.h"
#include "eeprom_session.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace {

// The labels of the four table sets, by the first region of each.
struct label_set {
    const eeprom_table_set *set;
    int board;  // 0 core, 1 strap
};
const label_set LABELS[EEPROM_LABELS] = {
    {&core_gen1, 0}, {&core_gen2, 0}, {&strap_gen1, 1}, {&strap_gen2, 1}};

const char *label_of(int index) { return LABELS[index].set->regions[0].sysfs_name; }

int label_index(const char *label) {
    for (int i = 0; i < EEPROM_LABELS; ++i)
        if (strcmp(label_of(i), label) == 0) return i;
    return -1;
}

// The bytes the label's regions reach to.
long long needed(int index) {
    long long end = 0;
    const eeprom_table_set &set = *LABELS[index].set;
    for (int r = 0; r < set.region_count; ++r) {
        const long long reach = set.regions[r].offset + eeprom_buffer_capacity(set.regions[r].layouts);
        if (reach > end) end = reach;
    }
    return end;
}

}  // namespace

eeprom_status_t eeprom_chip_file(eeprom_session *s, const char *label, const char *file,
                                 char *why, size_t size) {
    EEPROM_ASSERT(s && label && file && why && size > 0);
    const int index = label_index(label);
    if (s->core_regions[0] || s->strap_regions[0]) {
        snprintf(why, size, "chips are already in use");
        return EEPROM_ERROR_INVALID_PARAM;
    }
    if (index < 0) {
        snprintf(why, size, "no such label (core_eeprom, core_v2_eeprom, strap_eeprom, "
                            "strap_v2_eeprom)");
        return EEPROM_ERROR_INVALID_PARAM;
    }
    if (file[0] == '\0') {
        snprintf(why, size, "no file named");
        return EEPROM_ERROR_INVALID_PARAM;
    }
    for (int i = 0; i < EEPROM_LABELS; ++i) {
        if (s->chip_files[i][0] == '\0') continue;
        if (i == index) {
            snprintf(why, size, "%s given twice", label);
            return EEPROM_ERROR_INVALID_PARAM;
        }
        if (LABELS[i].board == LABELS[index].board) {
            snprintf(why, size, "the %s board has a file already (%s)",
                     LABELS[index].board == 0 ? "core" : "strap", label_of(i));
            return EEPROM_ERROR_INVALID_PARAM;
        }
    }
    struct stat st;
    if (stat(file, &st) != 0) {
        snprintf(why, size, "cannot be used, errno %d", errno);
        return EEPROM_ERROR_OPEN;
    }
    for (int i = 0; i < EEPROM_LABELS; ++i) {
        if (s->chip_files[i][0] != '\0' && s->chip_dev[i] == st.st_dev &&
            s->chip_ino[i] == st.st_ino) {
            snprintf(why, size, "the file stands for %s already", label_of(i));
            return EEPROM_ERROR_INVALID_PARAM;
        }
    }
    if (!S_ISREG(st.st_mode)) {
        snprintf(why, size, "not a regular file");
        return EEPROM_ERROR_OPEN;
    }
    if (st.st_size < needed(index)) {
        snprintf(why, size, "%lld bytes, %s needs %lld bytes", static_cast<long long>(st.st_size),
                 label, needed(index));
        return EEPROM_ERROR_OPEN;
    }
    if (strlen(file) >= sizeof s->chip_files[index]) {
        snprintf(why, size, "the name is too long");
        return EEPROM_ERROR_INVALID_PARAM;
    }
    eeprom_join(s->chip_files[index], sizeof s->chip_files[index], {file});
    s->chip_dev[index] = st.st_dev;
    s->chip_ino[index] = st.st_ino;
    s->chip_files_given = true;
    return EEPROM_SUCCESS;
}

const char *eeprom_chip_file_for(const eeprom_session *s, const char *label) {
    const int index = label_index(label);
    return index >= 0 && s->chip_files[index][0] != '\0' ? s->chip_files[index] : nullptr;
}
