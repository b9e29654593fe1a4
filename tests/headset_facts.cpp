#include "headset_facts.h"

#include <gtest/gtest.h>

const item_fact &item(std::string_view name, int strap_generation) {
    for (const std::vector<item_fact> *items :
         {&CORE_ITEMS, &BLOB_ITEMS, &strap_set(strap_generation).items, &STRAP_GEN1_ITEMS})
        for (const item_fact &i : *items)
            if (name == i.name) return i;
    ADD_FAILURE() << "no item " << name;
    return CORE_ITEMS[0];
}

std::vector<std::string> item_names(const std::vector<item_fact> &items, const region_fact *region) {
    std::vector<std::string> names;
    for (const item_fact &i : items)
        if (!region || i.region == region) names.push_back(i.name);
    return names;
}

std::string version_line() { return std::string("vellum Version: ") + VELLUM_VERSION + "\n"; }

std::string found(const std::string &region, const std::string &device) {
    return "Found " + region + " EEPROM at: " + SYSFS + "/" + device + "/eeprom\n";
}
std::string opendir_failed(int error, const std::string &dir) {
    return "opendir(" + dir + ") ret: " + std::to_string(error) + "\n";
}
std::string label_missing(const std::string &label) {
    return "Failed to find " + label + " in sysfs - check dts files\n";
}
std::string open_failed(const std::string &region, const std::string &path_or_device, int error) {
    const std::string path = path_or_device.find('/') == std::string::npos
                                 ? SYSFS + "/" + path_or_device + "/eeprom"
                                 : path_or_device;
    return "Open " + region + " EEPROM " + path + " Failed on: " + std::to_string(error) + "\n";
}

std::string uninit(const std::string &region) {
    return "EEPROM Uninitialized, run:\n\tvellum reset " + region + "\n";
}

std::string shown(const std::string &item) { return item + ": \n"; }
std::string not_set(const std::string &item) { return item + " has not been set!\n"; }
std::string not_in_layout(const char *op, const std::string &item) {
    return std::string("cannot ") + op + " " + item + ", eeprom version not supported!\n";
}
std::string locked(const std::string &item) { return "cannot write " + item + ", eeprom locked!\n"; }
std::string blob_is_set(const std::string &item) { return item + " set, specify filename to save\n"; }
std::string written(const std::string &what, const std::string &file) {
    return what + ": " + file + " written\n";
}
std::string size_refused(long size, long limit) {
    return "\nFile Size too large " + std::to_string(size) + " > " + std::to_string(limit) + "\n";
}

std::string reseting(const std::string &region) { return " Reseting " + region + "\n"; }
std::string locking(const std::string &region) { return " Locking " + region + "\n"; }
std::string unlocking(const std::string &region) { return " Unlocking " + region + "\n"; }
std::string restoring(const std::string &region) { return " Restoring " + region + "\n"; }
std::string upgrading(const std::string &region, int from, int to) {
    return "Upgrading " + region + " from " + std::to_string(from) + " to " + std::to_string(to) + "\n";
}
std::string invalidating(const std::string &item) { return "Invalidating New Entry " + item + "\n"; }
std::string applying(int items, const std::string &region, bool dry_run) {
    return std::string(dry_run ? " Would apply " : " Applying ") + std::to_string(items) + " items to " +
           region + "\n";
}

std::string hint(const std::string &command) {
    return "For a list of items run:\nvellum help " + command + "\n\n";
}
std::string needs_item(const std::string &command) {
    return "\n" + command + " command requires an item!\n" + hint(command);
}
std::string not_found(const std::string &word, const std::string &command) {
    return "\n" + word + " was not found!\n" + hint(command);
}
std::string needs(const std::string &command, const std::string &what) {
    return "\n" + command + " command requires " + what + "!\n" + hint(command);
}
std::string cannot_open(const std::string &file, int error) {
    return "\nFailed to open file " + file + " for reading on error: " + std::to_string(error) + "\n";
}
std::string cannot_create(const std::string &file, int error) {
    return "\nFailed to create file " + file + " for writing on error: " + std::to_string(error) + "\n";
}
std::string is_chip(const std::string &file) { return "\n" + file + " is an EEPROM of the headset!\n"; }

std::string repeat(const std::string &text, size_t times) {
    std::string out;
    while (times--) out += text;
    return out;
}
