// dump and restore: a region's raw image saved to a file before rework, and
// written back from one. dump saves whatever the chip holds, damaged or not,
// so it can be analysed; restore accepts only a valid image of the region it
// is told to write, and checks the file before the device is even opened.
#include <cstdio>

#include "commands.h"
#include "eeprom_common.h"

namespace {

// The region named by the first of exactly two words, or nullptr after the
// command's complaint.
eeprom_t *region_and_file(const char *command, int argc, char **argv) {
    if (argc != 2) {
        fprintf(stderr, "\n%s command requires a region and a file name!\n", command);
        print_hint(command);
        return nullptr;
    }
    const eeprom_value_t *family = nullptr;
    return region_or_complain(argv[0], command, &family);
}

}  // namespace

int cmd_dump(int argc, char **argv) {
    eeprom_t *region = region_and_file("dump", argc, argv);
    if (!region) return EEPROM_ERROR_INVALID_PARAM;
    eeprom_status_t status = eeprom_refuse_chip_path(argv[1]);
    if (status == EEPROM_SUCCESS) status = eeprom_open(region);
    if (status == EEPROM_SUCCESS) status = eeprom_read_stored(region);
    if (status != EEPROM_SUCCESS) return status;
    return eeprom_save_file(region->name, argv[1], region->data, static_cast<size_t>(region->size));
}

// The file goes straight into the region's buffer: nothing has been loaded
// into it in this process, and the device is opened only for a valid image.
int cmd_restore(int argc, char **argv) {
    eeprom_t *region = region_and_file("restore", argc, argv);
    if (!region) return EEPROM_ERROR_INVALID_PARAM;
    const char *filename = argv[1];
    int32_t size = 0;
    const eeprom_status_t status =
        eeprom_load_file(filename, region->data, eeprom_capacity(region), &size);
    if (status != EEPROM_SUCCESS) return status;
    if (!eeprom_valid_image(region, size)) {
        fprintf(stderr, "%s is not a valid %s image\n", filename, region->name);
        return EEPROM_ERROR_INVALID_DATA;
    }
    return eeprom_restore(region, size);
}
