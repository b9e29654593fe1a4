// dump and restore: a region's raw image saved to a file before rework, and
// written back from one. dump saves whatever the chip holds, damaged or not,
// so it can be analysed; restore accepts only a valid image of the region it
// is told to write, and checks the file before the device is even opened.
#include <cstdio>

#include "commands.h"
#include "eeprom_common.h"

int cmd_dump(const command_args &a) {
    eeprom_t *region = a.region;
    eeprom_status_t status = eeprom_refuse_chip_path(a.session, a.argv[1]);
    if (status == EEPROM_SUCCESS) status = eeprom_open(region);
    if (status == EEPROM_SUCCESS) status = eeprom_read_stored(region);
    if (status != EEPROM_SUCCESS) return status;
    return eeprom_save_file(a.session, region->name, a.argv[1], region->data, static_cast<size_t>(region->size));
}

// The device is opened only for a valid image.
int cmd_restore(const command_args &a) {
    eeprom_t *region = a.region;
    const char *filename = a.argv[1];
    static uint8_t image[EEPROM_IMAGE_MAX_LEN];
    int32_t size = 0;
    const eeprom_status_t status =
        eeprom_load_file(a.session, filename, image, eeprom_capacity(region), &size);
    if (status != EEPROM_SUCCESS) return status;
    if (!eeprom_valid_image(region, image, size)) {
        eeprom_diag(a.session, "%s is not a valid %s image\n", filename, region->name);
        return EEPROM_ERROR_INVALID_DATA;
    }
    return eeprom_restore(region, image, size);
}
